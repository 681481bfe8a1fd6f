#!/usr/bin/env bash
# Installs the Debian packages that building and testing Tarnwick need, when any is missing.
# Idempotent and quiet when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-websockets-dev qcoro-qt6-dev
  libsqlite3-dev libmaxminddb-dev libmaxmind-db-writer-perl iso-codes libsimdjson-dev
  qt6-svg-dev trayer xdotool imagemagick qt6-gtk-platformtheme fonts-noto-color-emoji
  libgtest-dev libbenchmark-dev libyaml-dev
  clang clang-format libclang-rt-14-dev
  golang-go gzip unzip zip dpkg-dev python3 npm xvfb passwd util-linux procps curl ca-certificates
  libglib2.0-bin gsettings-desktop-schemas iproute2 lz4 x11-utils dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  # Go and npm often come from outside Debian on developer machines; their commands are enough.
  case "$p" in
    golang-go) command -v go >/dev/null && continue ;;
    npm) command -v npm >/dev/null && continue ;;
  esac
  status="$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)"
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  # Through env: sudo drops variables set in front of it.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
