# shellcheck shell=bash disable=SC2154
# Helpers the benchmark scripts share; each script defines its own `fail` and `$work` before using them.

# Waits up to 20 s for PATTERN to appear in FILE.
wait_for_line() {
    local tries=0
    until grep -q "$2" "$1" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -le 200 ] || fail "no '$2' in $1 after 20 s: $(tail -n 5 "$1")"
        sleep 0.1
    done
}
# A port nobody listens on; the listener that then binds it reports a clash as an error of its own.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}
now() { echo "$EPOCHREALTIME"; }
since() { awk -v start="$1" -v end="$EPOCHREALTIME" 'BEGIN { printf "%.6f\n", end - start }'; }
# Appends VALUE to the series NAME (one value per run).
record() { echo "$2" >>"$work/series/$1"; }
