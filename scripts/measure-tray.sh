#!/usr/bin/env bash
# Measures the tray-only application (main window closed, kernel running, no traffic) under Xvfb with
# trayer as the tray: resident and private dirty memory, and the CPU it uses while idle. Run it under the
# kernel lock (flock /tmp/tarnwick-kernel.lock …) on a shared machine. Needs make apps.
set -euo pipefail
cd "$(dirname "$0")/.."
app="$PWD/build/bin/tarnwick-app"
[[ -x "$app" ]] || { echo "measure-tray: build the applications first (make apps)" >&2; exit 1; }
idle_seconds=${IDLE_SECONDS:-30}
kernel="$(bash scripts/provision-mihomo.sh)"
version="$("$kernel" -v | awk 'NR == 1 {print $3}')"
dir="$(mktemp -d /tmp/tarnwick-measure.XXXXXX)"
pids=()
# The helper the application starts outlives it: found by its socket in this run's directory.
cleanup() {
  for p in "${pids[@]}" $(pgrep -f -- "--socket $dir/" || true); do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

api=$(port)
mkdir -p "$dir/home" "$dir/run" && chmod 700 "$dir/run"
cat >"$dir/settings.ini" <<INI
[General]
hasCompletedOnboarding=true
activeProfileName=Default
update.autoCheck=false
apiPort=$api
apiSecret=measure
mixedPort=$(port)
INI
environment=(HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config" XDG_DATA_HOME="$dir/home/.local/share"
  XDG_RUNTIME_DIR="$dir/run" TARNWICK_WORKSPACE="$dir/workspace" TARNWICK_SETTINGS="$dir/settings.ini")
run() { env "${environment[@]}" "$@"; }
gzip -c "$kernel" >"$dir/kernel.gz"
run "$app" --install-kernel "$dir/kernel.gz" --kernel-version "$version" >/dev/null
bash scripts/provision-geodata.sh "$dir/workspace/work" >/dev/null

display=:$((300 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for ((i = 0; i < 50; i++)); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done
trayer --edge top --align right --height 28 >/dev/null 2>&1 &
pids+=($!)
sleep 1
env "${environment[@]}" "$app" >"$dir/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
for ((i = 0; i < 200; i++)); do
  curl -sf -H "Authorization: Bearer measure" "http://127.0.0.1:$api/version" >/dev/null && break
  sleep 0.2
done
sleep 10 # settle: the first helper and mode queries, the geodata check

ticks() { awk '{print $14 + $15}' "/proc/$app_pid/stat"; }
before=$(ticks)
sleep "$idle_seconds"
after=$(ticks)
hz=$(getconf CLK_TCK)
rss=$(awk '/^Rss:/ {print $2}' "/proc/$app_pid/smaps_rollup")
dirty=$(awk '/^Private_Dirty:/ {print $2}' "/proc/$app_pid/smaps_rollup")
awk -v rss="$rss" -v dirty="$dirty" -v ticks=$((after - before)) -v hz="$hz" -v seconds="$idle_seconds" 'BEGIN {
  printf "tray only, kernel running: RSS %.1f MB, private dirty %.1f MB\n", rss / 1024, dirty / 1024
  printf "idle over %d s: %.2f %% of a core\n", seconds, ticks * 100 / hz / seconds
}'
