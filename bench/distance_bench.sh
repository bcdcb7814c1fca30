#!/bin/bash
# What distance costs a send: real quorvel-cli processes on loopback, with bench/delay_proxy between them delaying
# every piece of data by half a round trip each way, beside rsync over ssh and scp to a throwaway sshd through the
# same proxy. Every figure is the median of RUNS runs; in each run every tool sends the same thing right after the
# others, so a slow phase of the machine hits all of them. Figures are printed in seconds and in round trips
# (seconds / RTT); RTT 0 is the same send straight over loopback, without the proxy.
#
# Cases: one 1 KiB file with a new session, the same again with the session resumed, COUNTS files of 1 KiB in one
# call, a folder of the largest count, and one file of BIG_MIB MiB. alice is pinned at bob (TLS 1.3), as `init`
# makes keys (3072 bits).
usage="Usage: bench/distance_bench.sh [-r RUNS] [-t RTTS] [-c COUNTS] [-b BIG_MIB] [-x TOOLS] BUILD_DIR
  -r RUNS     runs per figure (default 3)
  -t RTTS     round-trip times in ms, 0 for plain loopback (default \"0 50 200\")
  -c COUNTS   file counts for the many-files cases (default \"100 1000\")
  -b BIG_MIB  size of the large file (default 64)
  -x TOOLS    which of quorvel, rsync, scp to run (default \"quorvel rsync scp\")"
set -eu
runs=3
rtts="0 50 200"
counts="100 1000"
big_mib=64
tools="quorvel rsync scp"
while getopts r:t:c:b:x:h option; do
    case $option in
    r) runs=$OPTARG ;;
    t) rtts=$OPTARG ;;
    c) counts=$OPTARG ;;
    b) big_mib=$OPTARG ;;
    x) tools=$OPTARG ;;
    *)
        echo "$usage" >&2
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -ne 1 ]; then
    echo "$usage" >&2
    exit 2
fi
for number in "$runs" "$big_mib" $counts; do
    case $number in
    '' | *[!0-9]* | 0)
        echo "distance_bench: '$number' is not a positive whole number" >&2
        exit 2
        ;;
    esac
done
cli="$1/quorvel-cli"
proxy="$1/bench/delay_proxy"
for program in "$cli" "$proxy"; do
    if [ ! -x "$program" ]; then
        echo "distance_bench: $program not found; build it first, for example" >&2
        echo "  cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build-rel --target quorvel-cli delay_proxy" >&2
        exit 2
    fi
done
uses() { case " $tools " in *" $1 "*) return 0 ;; *) return 1 ;; esac }
sshd=/usr/sbin/sshd
for tool in rsync scp; do
    if uses $tool && { ! command -v $tool >/dev/null || ! command -v ssh >/dev/null || [ ! -x $sshd ]; }; then
        echo "distance_bench: $tool needs rsync, ssh and $sshd (scripts/install-deps installs them)" >&2
        exit 2
    fi
done

work=$(mktemp -d /dev/shm/quorvel-distance-XXXXXX)
pids=()
bench_user=
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "$bench_user" ]; then userdel "$bench_user" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "distance_bench: $*" >&2
    exit 1
}
# shellcheck source=bench/bench_common.sh
. "$(dirname "$0")/bench_common.sh"
median_of() {
    sort -g "$work/series/$1" | awk '{ v[NR] = $1 } END { printf "%.3f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Starts a proxy in front of TARGET_PORT delaying each way by half of RTT ms; prints its port.
start_proxy() {
    local log="$work/proxy-$1-$2.log"
    "$proxy" 0 "$1" $(($2 / 2)) >"$log" 2>&1 &
    pids+=($!)
    wait_for_line "$log" "listening on"
    awk '{ print $3 }' "$log"
}

mkdir "$work/series" "$work/src"
head -c 1024 /dev/urandom >"$work/src/one.bin"
head -c $((big_mib * 1048576)) /dev/urandom >"$work/src/big.bin"
largest=0
for count in $counts; do
    mkdir "$work/src/files$count"
    i=0
    while [ $i -lt "$count" ]; do
        head -c 1024 /dev/urandom >"$work/src/files$count/f$i"
        i=$((i + 1))
    done
    [ "$count" -gt "$largest" ] && largest=$count
done

# Quorvel: bob listens, alice sends to him through the proxy of the round trip at hand.
port=$(free_port)
for who in alice bob; do
    QUORVEL_HOME="$work/$who" "$cli" init --name "$who" --address 127.0.0.1 --port "$port" \
        --parcel-root "$work/$who/PBoxes" >/dev/null
    QUORVEL_HOME="$work/$who" "$cli" export-profile "$work/$who.prf" >/dev/null
done
QUORVEL_HOME="$work/bob" "$cli" import-profile "$work/alice.prf" --accept --max-size unlimited \
    --max-count unlimited --types 0x800 >/dev/null
QUORVEL_HOME="$work/alice" "$cli" import-profile "$work/bob.prf" >/dev/null
QUORVEL_HOME="$work/bob" "$cli" listen >"$work/listen.out" 2>&1 &
pids+=($!)
wait_for_line "$work/listen.out" "Listening on"
box="$work/bob/PBoxes/alice"

# The references: an sshd of our own on loopback, a key for this user only, no host key check.
ssh_port=
if uses rsync || uses scp; then
    mkdir -p "$work/ssh" /run/sshd
    ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host_key"
    ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/user_key"
    cp "$work/ssh/user_key.pub" "$work/ssh/authorized_keys"
    ssh_port=$(free_port)
    cat >"$work/ssh/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $ssh_port
HostKey $work/ssh/host_key
AuthorizedKeysFile $work/ssh/authorized_keys
PidFile $work/ssh/sshd.pid
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
Subsystem sftp internal-sftp
EOF
    $sshd -D -e -f "$work/ssh/sshd_config" 2>"$work/ssh/sshd.log" &
    pids+=($!)
    wait_for_line "$work/ssh/sshd.log" "Server listening"
fi
ssh_options() {
    echo "-i $work/ssh/user_key -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR -o BatchMode=yes"
}
user=$(id -un)
# Every rsync and scp -O starts the receiving user's shell, and root's start-up files can cost more than the round
# trips (a second on the development machine). As root, a throwaway user with a plain shell receives instead.
if [ -n "$ssh_port" ] && [ "$(id -u)" -eq 0 ] && command -v useradd >/dev/null; then
    bench_user=qvlbench$$
    useradd --system --password '*' --no-create-home --home-dir "$work" --shell /bin/sh "$bench_user"
    user=$bench_user
    chmod 755 "$work"
fi

# Each sender gets the sources into an empty target, and its time goes into SERIES; all files must arrive.
clear_target() { rm -rf "$1" && mkdir -p "$1"; }
clear_ssh_target() { clear_target "$work/dst" && chown "$user" "$work/dst"; }
arrived_in() { find "$1" -type f | wc -l; }
check_count() { [ "$(arrived_in "$1")" -eq "$2" ] || fail "$3: $2 files sent, $(arrived_in "$1") arrived"; }

quorvel_send() { # SERIES TO_PORT KEEP_SESSION EXPECTED FILES...
    local series=$1 to=$2 keep=$3 expected=$4 start
    shift 4
    clear_target "$box"
    [ "$keep" = keep ] || find "$work/alice" -name 'tls-session-*' -delete
    start=$(now)
    QUORVEL_HOME="$work/alice" "$cli" send bob "$@" --to "127.0.0.1:$to" >"$work/send.out" 2>&1 ||
        fail "$series: the send failed: $(tail -n 3 "$work/send.out")"
    record "$series" "$(since "$start")"
    check_count "$box" "$expected" "$series"
}
rsync_send() { # SERIES TO_PORT EXPECTED SOURCE
    local start
    clear_ssh_target
    start=$(now)
    rsync -a -e "ssh -p $2 $(ssh_options)" "$4" "$user@127.0.0.1:$work/dst/" || fail "$1: rsync failed"
    record "$1" "$(since "$start")"
    check_count "$work/dst" "$3" "$1"
}
scp_send() { # SERIES TO_PORT EXPECTED MODE SOURCE... (MODE: sftp or -O)
    local series=$1 to=$2 expected=$3 mode=$4 start
    shift 4
    clear_ssh_target
    local legacy=()
    [ "$mode" = -O ] && legacy=(-O)
    start=$(now)
    # shellcheck disable=SC2046
    scp -q -r "${legacy[@]}" -P "$to" $(ssh_options) "$@" "$user@127.0.0.1:$work/dst/" || fail "$series: scp failed"
    record "$series" "$(since "$start")"
    check_count "$work/dst" "$expected" "$series"
}

# One run of every case at one round trip, each tool right after the other.
run_cases() {
    local rtt=$1 q_port=$port s_port=$ssh_port count
    if [ "$rtt" -gt 0 ]; then
        q_port=$(start_proxy "$port" "$rtt")
        [ -z "$ssh_port" ] || s_port=$(start_proxy "$ssh_port" "$rtt")
    fi
    local cases=("one" "resumed") start
    for count in $counts; do cases+=("files$count"); done
    cases+=("folder$largest" "big")
    uses rsync && cases+=("ssh-true")
    for _ in $(seq "$runs"); do
        if uses quorvel; then
            quorvel_send "$rtt.one.quorvel" "$q_port" new 1 "$work/src/one.bin"
            quorvel_send "$rtt.resumed.quorvel" "$q_port" keep 1 "$work/src/one.bin"
            for count in $counts; do
                quorvel_send "$rtt.files$count.quorvel" "$q_port" new "$count" "$work/src/files$count"/f*
            done
            quorvel_send "$rtt.folder$largest.quorvel" "$q_port" new "$largest" "$work/src/files$largest"
            quorvel_send "$rtt.big.quorvel" "$q_port" new 1 "$work/src/big.bin"
            cmp "$work/src/big.bin" "$box/big.bin"
        fi
        if uses rsync; then
            # What every rsync and scp -O pays before its first byte: the ssh session and the user's remote shell
            # (whose start-up files can cost more than the round trips).
            start=$(now)
            # shellcheck disable=SC2046
            ssh -p "$s_port" $(ssh_options) "$user@127.0.0.1" true || fail "ssh to the throwaway sshd failed"
            record "$rtt.ssh-true.rsync" "$(since "$start")"
            rsync_send "$rtt.one.rsync" "$s_port" 1 "$work/src/one.bin"
            for count in $counts; do
                rsync_send "$rtt.files$count.rsync" "$s_port" "$count" "$work/src/files$count/"
            done
            rsync_send "$rtt.folder$largest.rsync" "$s_port" "$largest" "$work/src/files$largest"
            rsync_send "$rtt.big.rsync" "$s_port" 1 "$work/src/big.bin"
        fi
        if uses scp; then
            for mode in sftp -O; do
                scp_send "$rtt.one.scp$mode" "$s_port" 1 "$mode" "$work/src/one.bin"
                for count in $counts; do
                    scp_send "$rtt.files$count.scp$mode" "$s_port" "$count" "$mode" "$work/src/files$count"/f*
                done
                scp_send "$rtt.folder$largest.scp$mode" "$s_port" "$largest" "$mode" "$work/src/files$largest"
                scp_send "$rtt.big.scp$mode" "$s_port" 1 "$mode" "$work/src/big.bin"
            done
        fi
    done
    printf '%-10s %-14s' "RTT $rtt ms" ""
    local columns=()
    uses quorvel && columns+=(quorvel)
    uses rsync && columns+=(rsync)
    uses scp && columns+=(scpsftp scp-O)
    for column in "${columns[@]}"; do printf ' %22s' "$column"; done
    echo
    local name series seconds
    for name in "${cases[@]}"; do
        printf '%-10s %-14s' "" "$name"
        for column in "${columns[@]}"; do
            series="$rtt.$name.$column"
            if [ -f "$work/series/$series" ]; then
                seconds=$(median_of "$series")
                if [ "$rtt" -gt 0 ]; then
                    printf ' %22s' "$(awk -v s="$seconds" -v r="$rtt" 'BEGIN { printf "%.2f s %6.1f RTT", s, s * 1000 / r }')"
                else
                    printf ' %22s' "$seconds s"
                fi
            else
                printf ' %22s' "-"
            fi
        done
        echo
    done
}

echo "Medians of $runs runs; quorvel: pinned, TLS 1.3, 3072-bit keys; references: rsync -a and scp (sftp and -O) over ssh."
for rtt in $rtts; do
    case $rtt in
    '' | *[!0-9]*) fail "'$rtt' is not a round trip in whole milliseconds" ;;
    esac
    run_cases "$rtt"
done
