#!/bin/bash
# A listener beside a hostile friend for MINUTES (default 10), on loopback. bob listens; mallory, a friend who may
# send 10 files of at most 10 MiB, runs hostile_friend (broken large files, an abandoned file, 24 connections at
# once, a folder of 60,000 directories followed by one-byte parcels) round after round; every 30 s bob refuses her
# and lets her in again, and empties her box behind the listener's back. carol, a friend without limits, sends a
# 1 KiB file every 2 s throughout, and each send is timed. Before and after, bob's listener is measured at rest:
# resident memory, threads, descriptors and processor time over 10 s. Fails when one of carol's sends failed or
# took a second or more, or when mallory's box holds more than 8 kept parts or 10 files.
# Usage: bench/hostile_soak.sh BUILD_DIR [MINUTES]
set -eu
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "Usage: bench/hostile_soak.sh BUILD_DIR [MINUTES]" >&2
    exit 2
fi
build=$1
minutes=${2:-10}
cli="$build/quorvel-cli"
hostile="$build/bench/hostile_friend"
for program in "$cli" "$hostile"; do
    [ -x "$program" ] || {
        echo "hostile_soak: $program is missing; build it first (cmake --build $build --target quorvel-cli hostile_friend)" >&2
        exit 2
    }
done
work=$(mktemp -d /tmp/quorvel-soak-XXXXXX)
listener=
trap 'test -n "$listener" && kill "$listener" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
port=$(shuf -i 40000-60999 -n 1)
as() {
    local who=$1
    shift
    QUORVEL_HOME="$work/$who" "$cli" "$@"
}

for who in bob mallory carol; do
    as "$who" init --name "$who" --address 127.0.0.1 --port "$port" --parcel-root "$work/$who/PBoxes" >/dev/null
    as "$who" export-profile "$work/$who.prf" >/dev/null
done
as bob import-profile "$work/mallory.prf" --accept --max-size 10485760 --max-count 10 >/dev/null
as bob import-profile "$work/carol.prf" --accept --max-size unlimited --max-count unlimited >/dev/null
as mallory import-profile "$work/bob.prf" >/dev/null
as carol import-profile "$work/bob.prf" >/dev/null

QUORVEL_HOME="$work/bob" "$cli" listen >"$work/listen.log" 2>&1 &
listener=$!
for _ in $(seq 100); do
    grep -q "Listening on" "$work/listen.log" && break
    sleep 0.1
done
grep -q "Listening on" "$work/listen.log" || {
    cat "$work/listen.log"
    exit 1
}

head -c 1024 /dev/urandom >"$work/note.txt"
slowest_ms=0
sends=0
failed_sends=0
declare -a send_times=()
timed_send() {
    local start end ms
    start=$(date +%s%N)
    if as carol send bob "$work/note.txt" --to "127.0.0.1:$port" >"$work/carol-last.out" 2>&1; then
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        send_times+=("$ms")
        [ "$ms" -gt "$slowest_ms" ] && slowest_ms=$ms
    else
        failed_sends=$((failed_sends + 1))
        cat "$work/carol-last.out" >&2
    fi
    sends=$((sends + 1))
}

# Resident KiB, threads and descriptors of the listener, and its processor time (ms) over 10 s at rest.
at_rest() {
    local before after ticks
    before=$(awk '{print $14 + $15}' "/proc/$listener/stat")
    sleep 10
    after=$(awk '{print $14 + $15}' "/proc/$listener/stat")
    ticks=$(getconf CLK_TCK)
    printf 'rss %s KiB, threads %s, descriptors %s, processor %s ms in 10 s' \
        "$(awk '/^VmRSS/ {print $2}' "/proc/$listener/status")" \
        "$(awk '/^Threads/ {print $2}' "/proc/$listener/status")" \
        "$(ls "/proc/$listener/fd" | wc -l)" $(((after - before) * 1000 / ticks))
}

for _ in 1 2 3; do timed_send; done
rest_before=$(at_rest)
echo "before: $rest_before"

QUORVEL_HOME="$work/mallory" "$hostile" bob "$port" $((minutes * 60)) >"$work/hostile.log" 2>&1 &
hostile_pid=$!
box="$work/bob/PBoxes/mallory"
tick=0
while kill -0 "$hostile_pid" 2>/dev/null; do
    timed_send
    sleep 2
    tick=$((tick + 1))
    if [ $((tick % 15)) -eq 0 ]; then
        as bob friend-set mallory --refuse >/dev/null
        sleep 1
        as bob friend-set mallory --accept >/dev/null
        # Files the user deletes while the listener runs must count no more.
        find "$box" -mindepth 1 -maxdepth 1 ! -name '.*' -exec rm -rf {} + 2>/dev/null || true
    fi
done
wait "$hostile_pid" || {
    echo "hostile_soak: hostile_friend failed" >&2
    cat "$work/hostile.log" >&2
    exit 1
}
kept=$(find "$box" -maxdepth 1 -name '*.quorvel-keep' | wc -l)
held=$(find "$box" -type f ! -name '.*' | wc -l)
sleep 5
rest_after=$(at_rest)
median_ms=$(printf '%s\n' "${send_times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')

echo "hostile friend: $(tail -n 1 "$work/hostile.log")"
echo "after:  $rest_after"
echo "carol: $sends sends of 1 KiB, $failed_sends failed, median ${median_ms} ms, slowest ${slowest_ms} ms"
echo "mallory's box at the end: $kept kept parts, $held files"
status=0
[ "$failed_sends" -eq 0 ] || status=1
[ "$slowest_ms" -lt 1000 ] || status=1
[ "$kept" -le 8 ] || status=1
[ "$held" -le 10 ] || status=1
[ $status -eq 0 ] && echo "hostile_soak: passed" || echo "hostile_soak: FAILED"
exit $status
