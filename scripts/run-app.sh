#!/usr/bin/env bash
# `make run`: makes sure a kernel is installed in the workspace, then starts the application (headless
# when there is no display). Extra arguments go to tarnwick-app.
set -euo pipefail
cd "$(dirname "$0")/.."

workspace="${TARNWICK_WORKSPACE:-${XDG_DATA_HOME:-$HOME/.local/share}/Tarnwick}"
if [[ ! -x "$workspace/core/current" ]]; then
  kernel="$(bash scripts/provision-mihomo.sh)"
  version="$("$kernel" -v | awk '{print $3}')"
  mkdir -p "$workspace/core/versions/$version"
  cp -f "$kernel" "$workspace/core/versions/$version/mihomo"
  ln -sfn "versions/$version/mihomo" "$workspace/core/current"
  echo "Installed kernel $version in $workspace/core"
fi
if [[ ! -s "$workspace/work/Country.mmdb" ]]; then
  bash scripts/provision-geodata.sh "$workspace/work" >/dev/null
fi

args=()
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  args+=(--headless)
fi
exec build/bin/tarnwick-app "${args[@]}" "$@"
