#!/bin/sh
# Two private network namespaces joined by a veth pair (10.77.1.1 and 10.77.1.2, addresses that exist only there),
# each with an Avahi daemon on a D-Bus system bus of its own (DIR/bus-a, DIR/bus-b).
#   lan_network.sh up DIR ID    exits 77 when this process may not make namespaces, 1 when the network failed
#   lan_network.sh down DIR ID
set -u
dir=$2 id=$3
if [ "$1" = down ]; then
    for pid in $(cat "$dir"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
    sleep 0.2
    ip netns delete "qvl-lan-a-$id" 2>/dev/null
    ip netns delete "qvl-lan-b-$id" 2>/dev/null
    exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "LAN discovery tests need root to make network namespaces"; exit 77; }
ip netns add "qvl-lan-a-$id" || { echo "this process may not make network namespaces"; exit 77; }
command -v avahi-daemon >/dev/null && command -v dbus-daemon >/dev/null ||
    { echo "avahi-daemon and dbus-daemon are missing: scripts/install-deps installs them"; exit 1; }
set -e
ip netns add "qvl-lan-b-$id"
ip link add "qvla$id" type veth peer name "qvlb$id"
mkdir -p /run/avahi-daemon
for side in a b; do
    ns="qvl-lan-$side-$id" veth="qvl$side$id" address=10.77.1.1
    [ $side = b ] && address=10.77.1.2
    ip link set "$veth" netns "$ns"
    ip -n "$ns" addr add "$address/24" dev "$veth"
    ip -n "$ns" link set "$veth" up
    ip -n "$ns" link set lo up
    # A bus that lets anyone own any name, Avahi's included, and call anything.
    cat >"$dir/bus-$side.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><listen>unix:path=$dir/bus-$side</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/>
<allow receive_sender="*"/></policy></busconfig>
CONF
    printf '[server]\nhost-name=qvl-%s\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=%s\nenable-dbus=yes\n[wide-area]\nenable-wide-area=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n' \
        "$side" "$veth" >"$dir/avahi-$side.conf"
    dbus-daemon --nofork --nopidfile --config-file="$dir/bus-$side.conf" >"$dir/bus-$side.out" 2>&1 &
    echo $! >"$dir/bus-$side.pid"
    for _ in $(seq 50); do [ -S "$dir/bus-$side" ] && break; sleep 0.1; done
    # `ip netns exec` gives the daemon a mount namespace of its own, where its fixed pid file and socket
    # directory can be private to it.
    ip netns exec "$ns" sh -c "mount -t tmpfs tmpfs /run/avahi-daemon && DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/bus-$side \
        exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f $dir/avahi-$side.conf" >"$dir/avahi-$side.out" 2>&1 &
    echo $! >"$dir/avahi-$side.pid"
    for _ in $(seq 100); do
        grep -q "Server startup complete" "$dir/avahi-$side.out" && break
        sleep 0.1
    done
    grep -q "Server startup complete" "$dir/avahi-$side.out" ||
        { echo "avahi-daemon did not start:"; cat "$dir/bus-$side.out" "$dir/avahi-$side.out"; exit 1; }
done
