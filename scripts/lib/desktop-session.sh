# Sourced by the scripts that use the desktop program as people do, on a display of their own (Xvfb): a
# temporary directory, users with homes of their own, windows found by their titles, keys and clicks.
# The sourcing script sets `me` (its name, for messages), `build` and `scale` (the Qt scale factor, 1 or 2), then
# calls start_session.

for tool in Xvfb xauth xdotool import convert mcookie; do
    command -v "$tool" >/dev/null || {
        echo "$me: $tool is missing; run scripts/install-deps" >&2
        exit 1
    }
done

export QT_SCALE_FACTOR=$scale
xvfb=
tray_host=
declare -A programs=()

end_session() {
    local pid
    for pid in "${programs[@]}" "$tray_host" "$xvfb"; do
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null || true
        # A program stopping its transfers takes a moment; one that hangs is not waited for.
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    # QUORVEL_KEEP_WORK=1 keeps the homes and logs for a look after a failure.
    if [ "${QUORVEL_KEEP_WORK:-0}" = 1 ]; then
        echo "$me: kept $work" >&2
    else
        rm -rf "$work"
    fi
}

# The temporary directory goes with the script, so what the programs said is shown here.
fail() {
    echo "$me: $*" >&2
    # What the screen showed, for the one who runs this to look at.
    if [ -n "${DISPLAY:-}" ] && import -window root "${TMPDIR:-/tmp}/quorvel-$me-failure.png" 2>/dev/null; then
        echo "$me: the screen at that moment: ${TMPDIR:-/tmp}/quorvel-$me-failure.png" >&2
    fi
    local log
    for log in "$work"/*-quorvel.log; do
        if [ -s "$log" ]; then
            echo "$me: the end of what $(basename "$log" -quorvel.log)'s quorvel printed:" >&2
            tail -n 20 "$log" >&2
        fi
    done
    exit 1
}

# Builds what is missing, makes the temporary directory and starts the display.
start_session() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" -G Ninja
    fi
    cmake --build "$build" -j2 --target quorvel quorvel-cli
    gui=$(realpath "$build/quorvel")
    cli=$(realpath "$build/quorvel-cli")
    work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-$me-XXXXXX")
    trap end_session EXIT
    start_display
}

# The first display number without a server (1366x768 at the scale factor 1, twice that at 2); a server that
# takes it first just moves us on to the next.
start_display() {
    local number
    export XAUTHORITY=$work/Xauthority
    touch "$XAUTHORITY"
    for number in $(seq 90 140); do
        [ -e "/tmp/.X$number-lock" ] && continue
        xauth -q -f "$XAUTHORITY" add ":$number" . "$(mcookie)"
        Xvfb ":$number" -screen 0 $((1366 * scale))x$((768 * scale))x24 -nolisten tcp -auth "$XAUTHORITY" \
            >"$work/xvfb.log" 2>&1 &
        xvfb=$!
        export DISPLAY=:$number
        for _ in $(seq 50); do
            # Ours, not a server of someone else's that holds the number without a lock file.
            kill -0 "$xvfb" 2>/dev/null || break
            xdotool getdisplaygeometry >/dev/null 2>&1 && kill -0 "$xvfb" 2>/dev/null && return 0
            sleep 0.1
        done
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
        xvfb=
    done
    cat "$work/xvfb.log" >&2
    fail "no display could be started"
}

# A free port on loopback: nothing answers there. The same one each time where it is free, so pictures of
# windows that did not change come out the same.
pick_port() {
    local port=47120
    for _ in $(seq 20); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
        port=$(shuf -i 40000-60999 -n 1)
    done
    fail "no free port found on 127.0.0.1"
}

# One user's environment: their own home, settings, keys, log and parcel boxes, and machine settings of their own,
# as on computers of their own, so each first start sets up its machine. Sets `user_environment`.
environment_of() { # who
    local who=$1
    mkdir -p "$work/$who/runtime"
    chmod 700 "$work/$who/runtime"
    user_environment=(HOME="$work/$who" XDG_CONFIG_HOME="$work/$who/.config" XDG_DATA_HOME="$work/$who/.local/share"
        XDG_STATE_HOME="$work/$who/.local/state" XDG_CACHE_HOME="$work/$who/.cache"
        XDG_RUNTIME_DIR="$work/$who/runtime" QUORVEL_HOME="$work/$who/quorvel"
        QUORVEL_MACHINE_DB="$work/$who-machine.db")
}

# Runs a command as one user.
as() { # who command...
    environment_of "$1"
    shift
    env -u DBUS_SESSION_BUS_ADDRESS "${user_environment[@]}" "$@"
}

# The desktop program of one user, in the background; ${programs[who]} is its own process (env becomes it), so
# a signal sent there reaches the program itself.
start_program() { # who [argument...]
    environment_of "$1"
    env -u DBUS_SESSION_BUS_ADDRESS "${user_environment[@]}" QT_QPA_PLATFORM=xcb "$gui" "${@:2}" \
        >>"$work/$1-quorvel.log" 2>&1 &
    programs[$1]=$!
}

# A system tray along the top of the screen (trayer), for the programs started after it; waits until it holds
# the tray's selection.
start_tray_host() {
    command -v trayer >/dev/null || fail "trayer is missing; run scripts/install-deps"
    trayer --edge top --align right --widthtype pixel --width $((200 * scale)) --height $((24 * scale)) \
        --SetDockType true --transparent false >"$work/trayer.log" 2>&1 &
    tray_host=$!
    for _ in $(seq 50); do
        xdotool search --classname '^trayer$' >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    fail "trayer did not start: $(cat "$work/trayer.log")"
}

# The visible window whose title matches, waiting up to `seconds` for it to appear.
window_named() { # title-regex seconds
    timeout "$2" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true
}

is_visible() { # window
    xdotool search --onlyvisible --name '' 2>/dev/null | grep -qx "$1"
}

press() { # window keys...
    local window=$1
    shift
    xdotool windowfocus --sync "$window"
    # A pause between keys, so a menu is open before the key meant for it comes.
    xdotool key --clearmodifiers --delay 250 "$@"
}

# Clicks at a point of a window, given from its top left corner in the program's own pixels (the scale factor
# makes them larger on the screen): where a control sits when the fonts are those of fonts-dejavu-core and no
# window manager decorates the window.
click_at() { # window x y [repeat]
    xdotool mousemove --window "$1" $(($2 * scale)) $(($3 * scale)) click --repeat "${4:-1}" 1
}

# Sizes, places and points at a window in the program's own pixels.
size_window() { # window width height
    xdotool windowsize --sync "$1" $(($2 * scale)) $(($3 * scale))
}
move_window() { # window x y
    xdotool windowmove --sync "$1" $(($2 * scale)) $(($3 * scale))
}
point_at() { # window x y
    xdotool mousemove --window "$1" $(($2 * scale)) $(($3 * scale))
}

# Types a path into the file or folder chooser that just opened and takes it.
choose_path() { # title-regex path
    local chooser
    chooser=$(window_named "$1" 10)
    [ -n "$chooser" ] || fail "no chooser \"$1\" opened"
    xdotool windowfocus --sync "$chooser"
    xdotool type --delay 20 "$2"
    xdotool key Return
}

# Answers the question box whose title matches with the keys given (Return takes its default button).
answer() { # title-regex keys...
    local box
    box=$(window_named "$1" 20)
    [ -n "$box" ] || fail "the question \"$1\" did not come"
    shift
    press "$box" "$@"
}


# A window's width in the program's own pixels: the controls along a dialog's right edge are found from it.
width_of() { # window
    local WIDTH
    eval "$(xdotool getwindowgeometry --shell "$1" | grep '^WIDTH=')"
    echo $((WIDTH / scale))
}

# A window's height in the program's own pixels: the controls along a dialog's bottom edge are found from it.
height_of() { # window
    local HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1" | grep '^HEIGHT=')"
    echo $((HEIGHT / scale))
}
