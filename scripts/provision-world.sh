#!/usr/bin/env bash
# Provides the traffic map's country outlines (countries.json) reduced from the npm package world-atlas
# (Natural Earth's 1:110m admin-0 countries, TopoJSON) with ISO 3166-1 alpha-2 codes from Debian's
# iso-codes. Cached; prints the file's path. With a directory argument the file is also copied there.
#
# Sources and licences: world-atlas (https://github.com/topojson/world-atlas, ISC) packages Natural Earth
# data, which is in the public domain (https://www.naturalearthdata.com/about/terms-of-use/); the ISO
# 3166 table comes from iso-codes (LGPL-2.1-or-later), used here only to map numeric codes to letters.
set -euo pipefail

PACKAGE="world-atlas@2.0.2"
CACHE="${TARNWICK_CACHE:-$HOME/.cache/tarnwick}"
OUT="$CACHE/geodata/countries.json"
ISO="/usr/share/iso-codes/json/iso_3166-1.json"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

if [[ ! -s "$OUT" ]]; then
  command -v npm >/dev/null || { echo "provision-world: npm is not installed" >&2; exit 1; }
  [[ -s "$ISO" ]] || { echo "provision-world: iso-codes is not installed" >&2; exit 1; }
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "$PACKAGE" >/dev/null && tar xzf ./*.tgz)
  mkdir -p "$(dirname "$OUT")"
  node "$here/reduce-world.js" "$work/package/countries-110m.json" "$ISO" "$OUT.tmp"
  mv -f "$OUT.tmp" "$OUT"
fi

if [[ $# -ge 1 ]]; then
  mkdir -p "$1"
  cp -f "$OUT" "$1/countries.json"
fi
echo "$OUT"
