#!/usr/bin/env bash
# Records what NetworkManager's client really prints for the queries the application and the helper
# parse, into tests/data/network/. NetworkManager runs isolated: in a network and mount namespace of
# this script's own, with its state and configuration on tmpfs and its own system bus, so the machine's
# network, DNS and any NetworkManager of its own are never touched. Needs root and Debian's
# network-manager package (only for recording; the tests replay the files).
set -euo pipefail

OUT="$(realpath "${1:-$(dirname "$0")/../tests/data/network}")"

if [[ "${RECORD_NMCLI_INSIDE:-}" != 1 ]]; then
  [[ $EUID -eq 0 ]] || { echo "record-nmcli: needs root (namespaces, interfaces)" >&2; exit 1; }
  command -v NetworkManager >/dev/null || [[ -x /usr/sbin/NetworkManager ]] ||
    { echo "record-nmcli: NetworkManager is not installed (apt-get install network-manager)" >&2; exit 1; }
  exec unshare --net --mount --propagation private \
    env RECORD_NMCLI_INSIDE=1 HOST_NET="$(readlink /proc/self/ns/net)" HOST_MNT="$(readlink /proc/self/ns/mnt)" \
    "$0" "$OUT"
fi

# Nothing below may run in the machine's own namespaces.
[[ "$(readlink /proc/self/ns/net)" != "$HOST_NET" && "$(readlink /proc/self/ns/mnt)" != "$HOST_MNT" ]] ||
  { echo "record-nmcli: not isolated" >&2; exit 1; }

work="$(mktemp -d)"
nm_pid=""
bus_pid=""
cleanup() {
  local status=$?
  [[ -n "$nm_pid" ]] && kill "$nm_pid" 2>/dev/null && wait "$nm_pid" 2>/dev/null
  [[ -n "$bus_pid" ]] && kill "$bus_pid" 2>/dev/null && wait "$bus_pid" 2>/dev/null
  ((status == 0)) || cat "$work/nm.log" >&2
  rm -rf "$work"
}
trap cleanup EXIT

# The namespace's own view of its interfaces, read-only as in a container so that NetworkManager takes
# the links as they are instead of waiting for udev to announce them; NetworkManager's runtime, state and
# configuration directories on tmpfs.
mount -t sysfs -o ro sysfs /sys
mount -t tmpfs tmpfs /run
mkdir /run/NetworkManager
mount -t tmpfs tmpfs /var/lib/NetworkManager
mount -t tmpfs tmpfs /etc/NetworkManager
touch "$work/resolv.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf
cat >/etc/NetworkManager/NetworkManager.conf <<'EOF'
[main]
plugins=keyfile
dns=none
rc-manager=unmanaged
hostname-mode=none
auth-polkit=false
no-auto-default=*
[keyfile]
unmanaged-devices=interface-name:veth1;interface-name:veth3
[logging]
level=WARN
EOF

# A system bus of its own, open to the namespace's root.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile &
bus_pid=$!
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
for _ in $(seq 50); do [[ -S "$work/system_bus_socket" ]] && break; sleep 0.1; done

# The interfaces a desktop has: two wired links (one end of a veth pair each), a bridge made by
# NetworkManager, a bridge made outside it (as Docker does), and a tun (as the kernel's TUN inbound).
ip link set lo up
ip link add veth0 type veth peer name veth1
ip link add veth2 type veth peer name veth3
ip link set veth1 up
ip link set veth3 up
ip link add docker0 type bridge
ip addr add 172.17.0.1/16 dev docker0
ip link set docker0 up
ip tuntap add Meta mode tun
ip addr add 198.18.0.1/30 dev Meta
ip link set Meta up

/usr/sbin/NetworkManager --debug --config=/etc/NetworkManager/NetworkManager.conf 2>"$work/nm.log" &
nm_pid=$!
for _ in $(seq 100); do nmcli -t general status >/dev/null 2>&1 && break; sleep 0.1; done

nmcli connection add type ethernet ifname veth0 con-name "Wired connection 1" \
  ipv4.method manual ipv4.addresses 10.1.0.2/24 ipv4.gateway 10.1.0.1 ipv4.dns 10.1.0.1 ipv6.method disabled >/dev/null
nmcli connection add type ethernet ifname veth2 con-name 'Café: Home \ Lab' \
  ipv4.method manual ipv4.addresses 10.2.0.2/24 ipv4.dns 10.2.0.1 ipv6.method disabled >/dev/null
nmcli connection add type bridge ifname br0 con-name "bridge0" \
  ipv4.method manual ipv4.addresses 10.3.0.1/24 ipv6.method disabled bridge.stp no >/dev/null
for name in "Wired connection 1" 'Café: Home \ Lab' bridge0; do
  nmcli --wait 10 connection up id "$name" >/dev/null
done
# The bridge and the tun made outside NetworkManager show as external connections once it has seen them.
for _ in $(seq 100); do
  [[ "$(nmcli -t -f DEVICE connection show --active | grep -cxE 'docker0|Meta')" == 2 ]] && break
  sleep 0.1
done

# Exactly the command NetworkManagerCli::activeConnectionsArguments() gives.
nmcli -t -f NAME,TYPE,DEVICE connection show --active >"$OUT/nmcli-active-connections.txt"

# The helper's runtime DNS change and its undo must be accepted by this nmcli as the helper words them;
# the DNS servers the device has after each are recorded.
dns_of() { nmcli -t -f IP4.DNS,IP6.DNS device show "$1"; }
{
  echo "# before"
  dns_of veth2
  nmcli device modify veth2 ipv4.dns 223.6.6.6 ipv4.ignore-auto-dns yes ipv6.dns "" ipv6.ignore-auto-dns yes >/dev/null
  echo "# device modify veth2 ipv4.dns 223.6.6.6 ipv4.ignore-auto-dns yes ipv6.dns '' ipv6.ignore-auto-dns yes"
  dns_of veth2
  nmcli device reapply veth2 >/dev/null
  echo "# device reapply veth2"
  dns_of veth2
} >"$OUT/nmcli-device-dns.txt"

# NetworkManager's D-Bus interfaces as it introspects them (the manager and an active connection), for
# the test's stand-in to match: member signatures only, without this run's values and child objects.
active="$(busctl --system get-property org.freedesktop.NetworkManager /org/freedesktop/NetworkManager \
  org.freedesktop.NetworkManager PrimaryConnection | awk '{print $2}' | tr -d '"')"
for path in /org/freedesktop/NetworkManager "$active"; do
  gdbus introspect --system --dest org.freedesktop.NetworkManager --object-path "$path"
done | sed -E -e 's/ = .*;$/;/' -e '/^  node [A-Za-z0-9]+ \{$/,/^  \};$/d' \
  -e 's|^node /org/freedesktop/NetworkManager/ActiveConnection/[0-9]+ |node /org/freedesktop/NetworkManager/ActiveConnection/N |' \
  >"$OUT/networkmanager-interfaces.txt"

{
  echo "Recorded by scripts/record-nmcli.sh on $(date -u +%Y-%m-%d) with nmcli $(nmcli --version | awk '{print $NF}'),"
  echo "NetworkManager isolated in a network and mount namespace: the active connections as the application"
  echo "lists them, the helper's runtime DNS change and its undo as nmcli carried them out, and the D-Bus"
  echo "interfaces of the manager and an active connection. No Wi-Fi device exists there (no mac80211_hwsim"
  echo "on the recording machine), so no wireless connection is listed, and iwgetid-r.txt is written by hand"
  echo "in the shape wireless-tools' iwgetid -r prints: the SSID and a newline."
} >"$OUT/PROVENANCE"
