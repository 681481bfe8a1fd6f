#!/usr/bin/env bash
# Pictures of the application as people see it: starts tarnwick-app under Xvfb (with trayer as the tray)
# against the real kernel in a demonstration workspace — proxy nodes served by a second kernel instance, a
# local server producing traffic, a remote profile with a quota served locally — and writes one PNG per
# page and settings section, the tray menu, onboarding, the kernel download window and the update window, in
# light and dark. The folder is the last line printed. Needs the built tarnwick-app, tarnwick-helper and
# tarnwick (make apps).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
app="$root/build/bin/tarnwick-app"
[[ -x "$app" && -x "$root/build/bin/tarnwick-helper" && -x "$root/build/bin/tarnwick" ]] || { echo "screenshots: build the applications first (make apps)" >&2; exit 1; }
history_writer="$root/build/tests/ui/windows/demo_history"
[[ -x "$history_writer" ]] || { echo "screenshots: build demo_history first (cmake --build build --target demo_history)" >&2; exit 1; }
for tool in Xvfb trayer xdotool import python3 curl gzip; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

kernel="$(bash scripts/provision-mihomo.sh)"
version="$("$kernel" -v | awk 'NR == 1 {print $3}')"
out="$(mktemp -d /tmp/tarnwick-screenshots.XXXXXX)"
demo="$(mktemp -d /tmp/tarnwick-demo.XXXXXX)"
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
# The helper an application starts outlives it; those of this demonstration are found by their sockets.
stop_helpers() {
  local pid
  for pid in $(pgrep -f -- "--socket $demo/" || true); do kill "$pid" 2>/dev/null || true; done
}
trap 'stop_all; stop_helpers; rm -rf "$demo"' EXIT

# Whether no unzip works on an archive in the directory $1 any more.
unpacked() { ! pgrep -f -- "unzip -q $1/" >/dev/null; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# Waits up to $1 seconds for the command to succeed.
wait_for() {
  local bound=$1; shift
  for ((i = 0; i < bound * 5; i++)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  echo "screenshots: gave up waiting for: $*" >&2
  return 1
}

web=$(free_port); api=$(free_port); mixed=$(free_port)
nodes=($(free_port) $(free_port) $(free_port) $(free_port))
secret="demo-$(date +%s)"

# The upstream proxies: a second kernel with four mixed listeners, run under another name and argument
# order so that the application's orphan clean-up leaves it alone.
mkdir -p "$demo/upstream"
cp "$kernel" "$demo/upstream/upstream-kernel"
bash scripts/provision-geodata.sh "$demo/upstream" >/dev/null
{
  echo "mode: direct"
  echo "log-level: warning"
  echo "listeners:"
  for i in "${!nodes[@]}"; do
    echo "  - {name: node$i, type: mixed, port: ${nodes[$i]}, listen: 127.0.0.1}"
  done
} >"$demo/upstream/config.yaml"
"$demo/upstream/upstream-kernel" -f "$demo/upstream/config.yaml" -d "$demo/upstream" >"$demo/upstream/log" 2>&1 &
pids+=($!)

# The subscription the servers hand out.
dead=$(free_port)
cat >"$demo/subscription.yaml" <<YAML
proxies:
  - {name: "🇭🇰 Hong Kong 01", type: socks5, server: 127.0.0.1, port: ${nodes[0]}, udp: true}
  - {name: "🇯🇵 Tokyo 02", type: http, server: 127.0.0.1, port: ${nodes[1]}}
  - {name: "🇺🇸 Los Angeles 03", type: socks5, server: 127.0.0.1, port: ${nodes[2]}}
  - {name: "🇸🇬 Singapore 04 — a node whose name goes on and on to show how long names are laid out", type: socks5, server: 127.0.0.1, port: ${nodes[3]}}
  - {name: "🇩🇪 Frankfurt 05 (offline)", type: socks5, server: 127.0.0.1, port: $dead}
proxy-groups:
  - {name: Proxy, type: select, proxies: [Auto, "🇭🇰 Hong Kong 01", "🇯🇵 Tokyo 02", "🇺🇸 Los Angeles 03", "🇸🇬 Singapore 04 — a node whose name goes on and on to show how long names are laid out", "🇩🇪 Frankfurt 05 (offline)", DIRECT]}
  - {name: Auto, type: url-test, url: "http://127.0.0.1:$web/generate_204", interval: 600, proxies: ["🇭🇰 Hong Kong 01", "🇯🇵 Tokyo 02", "🇺🇸 Los Angeles 03"]}
  - {name: Streaming, type: fallback, url: "http://127.0.0.1:$web/generate_204", interval: 600, proxies: ["🇩🇪 Frankfurt 05 (offline)", "🇯🇵 Tokyo 02"]}
rules:
  - AND,((DOMAIN-SUFFIX,example.org),(NOT,((NETWORK,TCP)))),REJECT
  - DOMAIN-SUFFIX,github.com,Proxy
  # - DOMAIN-KEYWORD,ads,REJECT
  - DOMAIN-SUFFIX,lan,DIRECT
  - IP-CIDR,127.0.0.0/8,Proxy,no-resolve
  - MATCH,Proxy
YAML
python3 scripts/screenshots/demo_servers.py "$web" "$demo/subscription.yaml" &
pids+=($!)
wait_for 10 curl -sf "http://127.0.0.1:$web/generate_204"

# Writes a workspace: settings, the kernel installed the way a download installs it, geodata, and (unless
# "fresh") the subscription imported as the active profile beside the seeded local one.
make_workspace() {
  local dir=$1 kind=$2
  mkdir -p "$dir/home" "$dir/config" "$dir/data" "$dir/run" "$dir/tmp" && chmod 700 "$dir/run"
  local settings="$dir/settings.ini"
  {
    echo "[General]"
    echo "update.autoCheck=false"
    echo "apiPort=$api"
    echo "apiSecret=$secret"
    echo "mixedPort=$mixed"
    echo "releases.apiBaseURL=http://127.0.0.1:$web/feed"
    for key in geoxGeoIP geoxGeoSite geoxMMDB geoxASN geoxModelBin; do echo "$key=http://127.0.0.1:$web/missing"; done
    if [[ $kind == demo ]]; then
      echo "hasCompletedOnboarding=true"
      echo "activeProfileName=Demo Subscription"
    fi
  } >"$settings"
  [[ $kind == demo ]] || return 0
  local archive="$dir/kernel.gz"
  gzip -c "$kernel" >"$archive"
  workspace_env "$dir" "$app" --install-kernel "$archive" --kernel-version "$version" >/dev/null
  bash scripts/provision-geodata.sh "$dir/workspace/work" >/dev/null
  bash scripts/provision-world.sh "$dir/workspace/work" >/dev/null
  "$history_writer" "$dir/workspace" >/dev/null
  mkdir -p "$dir/workspace/profiles"
  curl -sf -o "$dir/workspace/profiles/Demo Subscription.yaml" "http://127.0.0.1:$web/sub"
  python3 - "$dir/workspace/profiles" "http://127.0.0.1:$web/sub" <<'PY'
import json, sys, time, uuid
profiles, url = sys.argv[1], sys.argv[2]
reference = time.time() - 978307200  # the manifest counts seconds from 2001-01-01
manifest = [{"id": str(uuid.uuid4()).upper(), "name": "Demo Subscription", "type": "remote",
             "fileName": "Demo Subscription.yaml", "url": url, "updateInterval": 86400,
             "lastUpdated": reference - 5400}]
json.dump(manifest, open(f"{profiles}/manifest.json", "w"), indent=2)
ledger = {url: {"upload": 3 << 30, "download": 41 << 30, "total": 100 << 30,
                "expire": int(time.time()) + 23 * 86400}}
json.dump(ledger, open(f"{profiles}/subscription_ledger.json", "w"), indent=2)
PY
}

workspace_env() {
  local dir=$1; shift
  env HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" XDG_RUNTIME_DIR="$dir/run" TMPDIR="$dir/tmp" \
    TARNWICK_WORKSPACE="$dir/workspace" TARNWICK_SETTINGS="$dir/settings.ini" "$@"
}

# One pass in a palette: the main window's pages, the tray menu, onboarding and the download window.
shoot() {
  local theme=$1 gtk_theme=$2 tint=$3
  local display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  wait_for 10 xdotool getdisplaygeometry
  trayer --edge top --align right --widthtype request --height 28 --transparent false --tint "$tint" \
    --SetDockType true --expand true >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  local look=(QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME="$gtk_theme")

  local dir="$demo/$theme"
  make_workspace "$dir" demo
  # Installed where an update can replace it.
  local installed="$dir/home/Applications/Tarnwick"
  mkdir -p "$installed/bin"
  cp "$app" "$root/build/bin/tarnwick-helper" "$installed/bin/"
  workspace_env "$dir" env "${look[@]}" "$installed/bin/tarnwick-app" --window >"$out/$theme-app.log" 2>&1 &
  local app_pid=$!
  pids+=($app_pid)
  wait_for 40 curl -sf -H "Authorization: Bearer $secret" "http://127.0.0.1:$api/version"
  # Traffic: a steady stream and bursts, through the kernel's mixed port.
  (while true; do curl -s -x "http://127.0.0.1:$mixed" "http://127.0.0.1:$web/stream" -o /dev/null; done) &
  pids+=($!)
  (while true; do curl -s -x "http://127.0.0.1:$mixed" "http://127.0.0.1:$web/blob" -o /dev/null; sleep 1; done) &
  pids+=($!)
  local window
  window=$(xdotool search --sync --onlyvisible --name '^Tarnwick$' | awk 'NR == 1')
  sleep 3
  # Every page of the sidebar, in its order: Ctrl+1 … Ctrl+9 open them.
  local pages=(overview map policy requests rules profiles logs settings)
  for i in "${!pages[@]}"; do
    xdotool windowfocus --sync "$window" key "ctrl+$((i + 1))"
    sleep 2
    import -window "$window" "$out/$theme-${pages[$i]}.png"
  done

  # Every settings section (Alt+1 … Alt+0 on the settings page), the last page shown above.
  local sections=(general network dns sniffer tun kernel updates helper permissions advanced)
  for i in "${!sections[@]}"; do
    xdotool windowfocus --sync "$window" key "alt+$(((i + 1) % 10))"
    sleep 1.5
    import -window "$window" "$out/$theme-settings-${sections[$i]}.png"
  done
  # The kernel section while a newer kernel downloads from the demonstration feed (it trickles).
  local cli="$root/build/bin/tarnwick"
  workspace_env "$dir" "$cli" kernel upgrade >/dev/null 2>&1 &
  pids+=($!)
  xdotool windowfocus --sync "$window" key "alt+6"
  sleep 4
  import -window "$window" "$out/$theme-settings-kernel-downloading.png"
  # The update window in its phases: a manual check while the feed is slow, its result with the release
  # history, the download of the new version (this pass runs from a copy in ~/Applications, where updates
  # are installed), its unpacking (pictured once the unpacking directory appears in the application's
  # temporary directory; twenty thousand files keep it there for seconds), and its failure (no bundle
  # inside).
  workspace_env "$dir" "$cli" app check >/dev/null 2>&1 &
  pids+=($!)
  local update
  if update=$(timeout 10 xdotool search --sync --onlyvisible --name '^Software Update$' | awk 'NR == 1') && [[ -n $update ]]; then
    sleep 1
    import -window "$update" "$out/$theme-update-checking.png"
    sleep 3
    import -window "$update" "$out/$theme-update-result.png"
    workspace_env "$dir" "$cli" app upgrade >/dev/null 2>&1 &
    pids+=($!)
    # It checks again (3 s on this feed), then downloads for about 6 s.
    sleep 6
    import -window "$update" "$out/$theme-update-downloading.png"
    if wait_for 20 compgen -G "$dir/tmp/Tarnwick_Update_*"; then
      import -window "$update" "$out/$theme-update-installing.png"
      wait_for 60 unpacked "$dir/tmp" || true
      sleep 1
    fi
    import -window "$update" "$out/$theme-update-failed.png"
    # Closed, so that it stands in none of the pictures after it.
    xdotool windowfocus --sync "$update" key alt+c 2>/dev/null || true
  else
    echo "screenshots: the update window did not open" >&2
  fi

  # The rule editor on the selected (logical) rule, then on a new rule.
  local i editor
  for i in "${!pages[@]}"; do
    if [[ ${pages[$i]} == rules ]]; then xdotool windowfocus --sync "$window" key "ctrl+$((i + 1))"; fi
  done
  sleep 1
  for keys in "ctrl+e:rule-editor-logical" "ctrl+n:rule-editor-new"; do
    xdotool windowfocus --sync "$window" key "${keys%%:*}"
    if editor=$(timeout 10 xdotool search --sync --onlyvisible --name ' Rule' | awk 'NR == 1') && [[ -n $editor ]]; then
      sleep 1.5
      import -window "$editor" "$out/$theme-${keys#*:}.png"
      xdotool windowfocus --sync "$editor" key Escape
      sleep 0.5
    else
      echo "screenshots: the rule editor did not open (${keys%%:*})" >&2
    fi
  done

  # The tray menu: a right click on the icon trayer embeds (a small window of the application's).
  local clicked=""
  for candidate in $(xdotool search --classname tarnwick-app 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$candidate" 2>/dev/null)" || continue
    # trayer sits at the right end of the top edge; small windows of the application elsewhere (the
    # main window's inner windows) are not the icon.
    if ((WIDTH >= 8 && WIDTH <= 64 && HEIGHT >= 8 && HEIGHT <= 40 && Y < 40 && X >= 640)); then
      import -window root -crop 1280x28+0+0 "$out/$theme-tray.png"
      xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
      sleep 1.5
      import -window root "$out/$theme-tray-menu.png"
      xdotool key Escape
      clicked=yes
      break
    fi
  done
  [[ -n $clicked ]] || echo "screenshots: no tray icon appeared" >&2
  kill "$app_pid"; wait "$app_pid" 2>/dev/null || true

  # First launch in an empty workspace: onboarding, then (no kernel yet) the download window.
  local fresh="$demo/$theme-fresh"
  make_workspace "$fresh" fresh
  workspace_env "$fresh" env "${look[@]}" "$app" >"$out/$theme-onboarding.log" 2>&1 &
  app_pid=$!
  pids+=($app_pid)
  window=$(xdotool search --sync --onlyvisible --name '^Welcome to Tarnwick$' | awk 'NR == 1')
  sleep 1.5
  import -window "$window" "$out/$theme-onboarding.png"
  xdotool windowfocus --sync "$window" key Return
  if window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Download the Mihomo Kernel$' | awk 'NR == 1') && [[ -n $window ]]; then
    sleep 1.5
    import -window "$window" "$out/$theme-kernel-download.png"
  else
    echo "screenshots: the kernel download window did not open" >&2
  fi
  kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
  stop_all_but_servers
}

# Ends this pass's processes (Xvfb, trayer, traffic), keeping the upstream kernel and the servers.
stop_all_but_servers() {
  local keep=("${pids[@]:0:2}")
  for pid in "${pids[@]:2}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]:2}"; do wait "$pid" 2>/dev/null || true; done
  pids=("${keep[@]}")
}

shoot light Adwaita 0xdedede
shoot dark Adwaita:dark 0x2b2b2b
echo "$out"
