#!/usr/bin/env bash
# `make run`: makes sure a kernel is installed in the workspace, then starts the application (headless
# when there is no display). Extra arguments go to tarnwick-app.
set -euo pipefail
cd "$(dirname "$0")/.."

workspace="${TARNWICK_WORKSPACE:-${XDG_DATA_HOME:-$HOME/.local/share}/Tarnwick}"
if [[ ! -x "$workspace/core/current" ]]; then
  kernel="$(bash scripts/provision-mihomo.sh)"
  # "Mihomo Meta v1.19.30 linux amd64 …" on the first line; later lines name the build tags.
  # Read whole before taking the first line: a reader that stops early would kill the kernel with SIGPIPE.
  identity="$("$kernel" -v)"
  version="$(awk 'NR == 1 {print $3}' <<<"$identity")"
  archive="$(mktemp --suffix=.gz)"
  trap 'rm -f "$archive"' EXIT
  gzip -c "$kernel" >"$archive"
  # Installed the way a downloaded kernel is: unpacked, verified, linked as core/current.
  build/bin/tarnwick-app --install-kernel "$archive" --kernel-version "$version"
fi
if [[ ! -s "$workspace/work/Country.mmdb" ]]; then
  bash scripts/provision-geodata.sh "$workspace/work" >/dev/null
fi
if [[ ! -s "$workspace/work/ASN.mmdb" ]]; then
  bash scripts/provision-asn.sh "$workspace/work" >/dev/null
fi

args=()
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  args+=(--headless)
fi
exec build/bin/tarnwick-app "${args[@]}" "$@"
