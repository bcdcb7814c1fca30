#!/bin/bash
# Port mapping against a real router: miniupnpd (NAT-PMP and UPnP IGD) in a network namespace that routes between
# an "inside" namespace, where Bob's listener runs, and an "outside" one, where Alice sends from. Every address
# exists only inside these namespaces. Needs root (as CI runs); exits 77, which CTest reports as skipped, without.
# Usage: router_test.sh QUORVEL_CLI
set -u
cli=$1
skip() {
    echo "SKIPPED: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
for tool in ip nft miniupnpd; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps installs it)"
done
tag=$$
router=qr$tag inside=qi$tag outside=qo$tag lonely=qn$tag
ip netns add "$router" 2>/dev/null || skip "cannot make a network namespace here"
work=$(mktemp -d /tmp/quorvel-portmap.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    for ns in "$router" "$inside" "$outside" "$lonely"; do ip netns del "$ns" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    for log in "$work"/*.log "$work"/*.out; do [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }; done
    exit 1
}
# Waits up to $2 tenths of a second for the file $1 to hold the text $3.
wait_for() {
    local i=0
    while [ $i -lt "$2" ]; do
        grep -qF -- "$3" "$1" 2>/dev/null && return 0
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}
as() {
    local who=$1 ns=$2
    shift 2
    QUORVEL_HOME="$work/$who" ip netns exec "$ns" "$cli" "$@"
}
# The same in the background, as the process $! names; stopped with SIGTERM, since a background job ignores SIGINT.
as_background() {
    local who=$1 ns=$2 out=$3
    shift 3
    (QUORVEL_HOME="$work/$who" exec ip netns exec "$ns" "$cli" "$@" >"$out" 2>&1) &
}

for ns in "$inside" "$outside" "$lonely"; do ip netns add "$ns"; done
for ns in "$router" "$inside" "$outside" "$lonely"; do ip -n "$ns" link set lo up; done
ip link add "r$tag" netns "$router" type veth peer name "i$tag" netns "$inside"
ip link add "w$tag" netns "$router" type veth peer name "o$tag" netns "$outside"
ip -n "$router" addr add 192.168.77.1/24 dev "r$tag" && ip -n "$router" link set "r$tag" up
# The router's side on the "internet": an address miniupnpd takes for a public one, so it maps at all.
ip -n "$router" addr add 11.0.0.1/24 dev "w$tag" && ip -n "$router" link set "w$tag" up
ip -n "$inside" addr add 192.168.77.2/24 dev "i$tag" && ip -n "$inside" link set "i$tag" up
ip -n "$inside" route add default via 192.168.77.1
ip -n "$outside" addr add 11.0.0.2/24 dev "o$tag" && ip -n "$outside" link set "o$tag" up
ip netns exec "$router" sysctl -qw net.ipv4.ip_forward=1
ip netns exec "$router" nft -f - <<NFT || fail "cannot set up the router's tables"
table inet filter {
    chain forward { type filter hook forward priority 0; policy drop; ct state established,related accept; oifname "w$tag" accept; jump miniupnpd; }
    chain miniupnpd { }
    chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
    chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; oifname "w$tag" masquerade; }
    chain prerouting_miniupnpd { }
    chain postrouting_miniupnpd { }
}
NFT

start_router() { # $1: yes to answer NAT-PMP
    cat >"$work/miniupnpd.conf" <<CONF
ext_ifname=w$tag
listening_ip=r$tag
enable_natpmp=$1
enable_upnp=yes
secure_mode=yes
system_uptime=yes
uuid=3d3b2f7e-1111-4222-8333-44445555$(printf %04d $((tag % 10000)))
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
CONF
    ip netns exec "$router" miniupnpd -d -f "$work/miniupnpd.conf" -P "$work/miniupnpd.pid" >"$work/router.log" 2>&1 &
    router_pid=$!
    pids+=("$router_pid")
    wait_for "$work/router.log" 50 "Listening for NAT-PMP" || wait_for "$work/router.log" 50 "HTTP listening" ||
        fail "miniupnpd did not start"
}
stop_router() {
    kill "$router_pid" && wait "$router_pid" 2>/dev/null
}
mappings() { ip netns exec "$router" nft list chain inet filter prerouting_miniupnpd; }
listen_bob() { # $1: the output file
    as_background bob "$inside" "$1" listen
    bob_pid=$!
    pids+=("$bob_pid")
    wait_for "$1" 100 "Listening on 192.168.77.2:20000" || fail "Bob's listener did not start"
}
stop_bob() {
    kill -TERM "$bob_pid" && wait "$bob_pid" 2>/dev/null
}

as bob "$inside" init --name Bob --address 192.168.77.2 --port 20000 >/dev/null || fail "init Bob"
as bob "$inside" reg set machine PortMappingLifetime dword 4 >/dev/null || fail "set the lifetime"
as alice "$outside" init --name Alice --address 11.0.0.2 --port 20001 >/dev/null || fail "init Alice"
as alice "$outside" export-profile "$work/alice.prf" >/dev/null || fail "export Alice"
as bob "$inside" import-profile "$work/alice.prf" --accept >/dev/null || fail "Bob imports Alice"

echo "NAT-PMP: the mapping appears in the router's table, and whoami and the exported profile name it"
start_router yes
listen_bob "$work/bob-natpmp.out"
reachable="Reachable from the internet at 11.0.0.1:20000 (NAT-PMP, router 192.168.77.1)"
wait_for "$work/bob-natpmp.out" 50 "$reachable" || fail "no NAT-PMP mapping"
mappings | grep -q "dport 20000 dnat ip to 192.168.77.2:20000" || fail "the router holds no mapping: $(mappings)"
as bob "$inside" whoami | grep -qxF "$reachable" || fail "whoami: $(as bob "$inside" whoami | tail -n 1)"
as bob "$inside" export-profile "$work/bob.prf" >/dev/null || fail "export Bob"
# Profile files end their lines as the Windows-era program did.
[ "$(tr -d '\r' <"$work/bob.prf" | grep -cxE "ADDR: 11.0.0.1|PORT: 20000")" -eq 2 ] ||
    fail "the exported profile does not lead through the router: $(head -n 4 "$work/bob.prf")"

echo "A sender outside delivers a parcel to the external address"
as alice "$outside" import-profile "$work/bob.prf" >/dev/null || fail "Alice imports Bob"
head -c 5000 /dev/urandom >"$work/parcel.bin"
as alice "$outside" send Bob "$work/parcel.bin" >"$work/send.out" 2>&1 || fail "the send from outside failed"
cmp -s "$work/parcel.bin" "$work/bob/PBoxes/Alice/parcel.bin" || fail "the parcel did not arrive whole"

echo "The mapping is renewed before it lapses"
i=0
while [ "$(grep -c "port mapping accepted" "$work/router.log")" -lt 3 ] && [ $i -lt 80 ]; do
    sleep 0.1
    i=$((i + 1))
done
[ "$(grep -c "port mapping accepted" "$work/router.log")" -ge 3 ] || fail "the mapping was not renewed"
mappings | grep -q "dport 20000" || fail "the renewed mapping is gone"

echo "It is removed when the listener stops"
stop_bob
grep -qF "Port mapping removed: 11.0.0.1:20000" "$work/bob-natpmp.out" || fail "no removal logged"
mappings | grep -q "dport 20000" && fail "the mapping stayed after the stop: $(mappings)"
as bob "$inside" whoami | grep -qxF "Not reachable from the internet: the program is not listening" ||
    fail "whoami after the stop: $(as bob "$inside" whoami | tail -n 1)"
stop_router

echo "UPnP IGD when the router does not answer NAT-PMP"
start_router no
listen_bob "$work/bob-upnp.out"
wait_for "$work/bob-upnp.out" 80 "Reachable from the internet at 11.0.0.1:20000 (UPnP, router 192.168.77.1)" ||
    fail "no UPnP mapping"
mappings | grep -q "dport 20000 dnat ip to 192.168.77.2:20000" || fail "the router holds no UPnP mapping"
stop_bob
mappings | grep -q "dport 20000" && fail "the UPnP mapping stayed after the stop"
stop_router

echo "With no router the reason is stated within 5 s and the listener still runs"
as carol "$lonely" init --name Carol --address 0.0.0.0 --port 20002 >/dev/null 2>&1 || fail "init Carol"
as_background carol "$lonely" "$work/carol.out" listen
carol_pid=$!
pids+=("$carol_pid")
wait_for "$work/carol.out" 50 "Port mapping: no router answered NAT-PMP or UPnP" || fail "no reason within 5 s"
grep -q "Listening on 0.0.0.0:20002" "$work/carol.out" || fail "Carol's listener did not start"
kill -0 "$carol_pid" || fail "the listener ended"
as carol "$lonely" whoami | grep -qxF "Not reachable from the internet: no router answered NAT-PMP or UPnP" ||
    fail "whoami without a router: $(as carol "$lonely" whoami | tail -n 1)"
echo "PASSED"
