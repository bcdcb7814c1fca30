#!/bin/sh
# Transfer throughput over loopback with two real quorvel-cli processes, each figure beside a reference measured in
# the same run: (a) one large file into a parcel box on tmpfs against a raw socat copy and `openssl speed`;
# (b) many small files in one send against `openssl speed rsa3072`; (c) peak memory of listen with 50 transfers.
# Usage: bench/transfer_bench.sh BUILD_DIR [SIZE_MIB] [SMALL_FILES]
set -eu
build=${1:?build directory with quorvel-cli}
size_mib=${2:-1024}
small=${3:-200}
cli="$build/quorvel-cli"
work=$(mktemp -d /dev/shm/quorvel-bench-XXXXXX)
listener=
trap 'test -n "$listener" && kill "$listener" 2>/dev/null; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
for who in alice bob; do
    QUORVEL_HOME="$work/$who" "$cli" init --name "$who" --address 127.0.0.1 --port "$port" \
        --parcel-root "$work/$who/PBoxes" >/dev/null
    QUORVEL_HOME="$work/$who" "$cli" reg set machine IOBlockSize dword 8192
    QUORVEL_HOME="$work/$who" "$cli" export-profile "$work/$who" >/dev/null
done
QUORVEL_HOME="$work/bob" "$cli" import-profile "$work/alice.prf" --accept --max-size unlimited \
    --max-count unlimited --types 0x800 >/dev/null
QUORVEL_HOME="$work/alice" "$cli" import-profile "$work/bob.prf" >/dev/null

now() { date +%s.%N; }
QUORVEL_HOME="$work/bob" "$cli" listen >"$work/listen.out" 2>&1 &
listener=$!
until grep -q "Listening on" "$work/listen.out"; do sleep 0.1; done

head -c $((size_mib * 1048576)) /dev/urandom >"$work/big.bin"
start=$(now)
/usr/bin/time -f "send: %e s elapsed, %U user, %S sys" env QUORVEL_HOME="$work/alice" "$cli" send bob "$work/big.bin" --to "127.0.0.1:$port" >/dev/null
quorvel_s=$(echo "$(now) - $start" | bc)
cmp "$work/big.bin" "$work/bob/PBoxes/alice/big.bin"
rm -f "$work/bob/PBoxes/alice/big.bin"

raw_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
socat -u "TCP-LISTEN:$raw_port,bind=127.0.0.1,reuseaddr" "CREATE:$work/raw.bin" &
raw_listener=$!
sleep 0.3
start=$(now)
socat -u "FILE:$work/big.bin" "TCP:127.0.0.1:$raw_port"
wait $raw_listener
raw_s=$(echo "$(now) - $start" | bc)
rm -f "$work/raw.bin"

aes_8k=$(openssl speed -evp aes-256-cbc -bytes 8192 -seconds 2 2>/dev/null | awk '/^AES-256-CBC/ {print $2}')
echo "(a) ${size_mib} MiB, AES 256, block size 8192, parcel box on tmpfs:"
echo "    quorvel: $(echo "$size_mib / $quorvel_s" | bc -l | cut -c1-7) MiB/s; raw socat copy: $(echo "$size_mib / $raw_s" | bc -l | cut -c1-7) MiB/s; ratio $(echo "$raw_s / $quorvel_s" | bc -l | cut -c1-5)"
echo "    openssl speed -evp aes-256-cbc at 8 KiB: $aes_8k (kB/s with the k suffix, 1000s of bytes)"

mkdir "$work/small"
i=0
while [ $i -lt "$small" ]; do
    head -c 1024 /dev/urandom >"$work/small/f$i"
    i=$((i + 1))
done
start=$(now)
QUORVEL_HOME="$work/alice" "$cli" send bob "$work"/small/* --to "127.0.0.1:$port" >/dev/null
small_s=$(echo "$(now) - $start" | bc)
arrived=$(ls "$work/bob/PBoxes/alice" | wc -l)
rsa=$(openssl speed -seconds 2 rsa3072 2>/dev/null | awk '/^rsa 3072/ {print $6}')
echo "(b) $small files of 1 KiB in one send: $arrived arrived, $(echo "$small / $small_s" | bc -l | cut -c1-7) files/s;"
echo "    openssl speed rsa3072: $rsa private-key operations/s (each file needs four: $(echo "$rsa / 4" | bc -l | cut -c1-7) files/s at most)"

rm -f "$work"/bob/PBoxes/alice/*
i=0
while [ $i -lt 50 ]; do
    head -c $((4 * 1048576)) /dev/zero >"$work/small/m$i"
    i=$((i + 1))
done
QUORVEL_HOME="$work/alice" "$cli" send bob "$work"/small/m* --to "127.0.0.1:$port" >/dev/null
peak=$(awk '/VmHWM/ {print $2, $3}' "/proc/$listener/status")
kill -TERM "$listener"
wait "$listener" || true
listener=
echo "(c) listen after 50 transfers of 4 MiB at once: peak resident $peak"
