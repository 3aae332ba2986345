# shellcheck shell=bash
# What every desktop of scripts/test-session is made of: the bookkeeping of the processes it
# starts, waiting with deadlines, and the pieces all of them have (a private runtime folder, a
# D-Bus session bus, the AT-SPI bus and registry, an unlocked gnome-keyring, PulseAudio with a
# virtual microphone, the env file). Sourced by scripts/test-session, which sets STATE and LOGS.

readonly KEYRING_PASSWORD="vurin-test-session"
readonly STEP_TIMEOUT=15 # seconds for any one piece to come up
readonly STOP_TIMEOUT=5  # seconds a process gets to leave after SIGTERM
# What the start-up line says after "ready in N s", set by each desktop.
export READY=""

# Messages go to the caller's stderr even from a trap that fires inside a redirected command.
exec {ERR}>&2
say() { echo "test-session: $*" >&"$ERR"; }

# ---------------------------------------------------------------------------------------------
# Process bookkeeping: "name pid start-time" per line, so a recycled pid is never signalled.

# Sets PROC_STATE and PROC_START (see proc(5)) without forking: stop polls this in a loop.
read_proc_stat() { # pid
    local stat fields
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    # The command name may hold spaces and parentheses: count fields after its closing ')'.
    read -r -a fields <<<"${stat##*) }"
    PROC_STATE=${fields[0]}
    PROC_START=${fields[19]}
}

# Running and not a zombie (nobody may be left to reap our orphans in a container), and when a
# start time is given, still the very process that was recorded.
is_running() { # pid [start-time]
    read_proc_stat "$1" || return 1
    [[ $PROC_STATE != Z && $PROC_STATE != X ]] || return 1
    [[ -z ${2:-} || $PROC_START == "$2" ]]
}

record_pid() { # name pid [name of the parent it belongs to]
    PROC_START=0
    read_proc_stat "$2" || true
    local line="$1 $2 $PROC_START"
    if [[ -z ${3:-} ]]; then
        echo "$line" >>"$STATE/pids"
        return
    fi
    # A child that its parent stops: listed before the parent, so that stopping in reverse
    # order reaches the parent first and the child only if it is still there.
    awk -v parent="$3" -v child="$line" '$1 == parent { print child } { print }' \
        "$STATE/pids" >"$STATE/pids.new"
    mv "$STATE/pids.new" "$STATE/pids"
}

# SIGTERM, then KILL once the shared deadline has passed.
stop_one() { # name pid start-time deadline
    is_running "$2" "$3" || return 0
    kill -TERM "$2" 2>/dev/null || true
    while is_running "$2" "$3"; do
        if ((SECONDS >= $4)); then
            say "$1 (pid $2) did not stop within ${STOP_TIMEOUT}s; killing it"
            kill -KILL "$2" 2>/dev/null || true
            return 0
        fi
        sleep 0.02
    done
}

# One at a time in reverse start order, so clients leave before the buses and the display
# they use (otherwise their logs fill with X I/O errors).
stop_recorded() {
    [[ -f $STATE/pids ]] || return 0
    local lines=() name pid start i deadline=$((SECONDS + STOP_TIMEOUT))
    mapfile -t lines <"$STATE/pids"
    for ((i = ${#lines[@]} - 1; i >= 0; i--)); do
        read -r name pid start <<<"${lines[i]}"
        stop_one "$name" "$pid" "$start" "$deadline"
    done
    rm -f "$STATE/pids"
}

remove_runtime_dir() {
    local dir
    [[ -f $STATE/runtime-dir ]] || return 0
    dir=$(cat "$STATE/runtime-dir")
    # Only ever a folder this script made with mktemp.
    if [[ $dir == /tmp/vurin-session.* ]]; then
        rm -rf -- "$dir"
    fi
    rm -f "$STATE/runtime-dir"
}

# ---------------------------------------------------------------------------------------------
# Waiting: every step polls with a deadline and names what did not come up.

fail() { # message: one line, then undo what was started
    say "$*"
    stop_recorded
    remove_runtime_dir
    exit 1
}

# Each program the desktop needs, named when it is missing.
require() { # program...
    local program
    for program in "$@"; do
        [[ -x $program ]] || command -v "$program" >/dev/null ||
            fail "$program is not installed (scripts/install-deps --test installs it)"
    done
}

# wait_for "what" pid-or-empty command...: polls the command until it succeeds.
wait_for() {
    local what=$1 pid=$2
    shift 2
    local deadline=$((SECONDS + STEP_TIMEOUT))
    until "$@" >/dev/null 2>&1; do
        if [[ -n $pid ]] && ! is_running "$pid"; then
            fail "$what exited during start-up (log: $LOGS)"
        fi
        if ((SECONDS >= deadline)); then
            fail "$what did not come up within ${STEP_TIMEOUT}s (log: $LOGS)"
        fi
        sleep 0.05
    done
}

# For the subshell that becomes a daemon: descriptors other than 0-2 (the caller's pipes,
# ERR) must not be held open by it, or whoever reads the caller's output never sees the end.
close_inherited_fds() {
    local fd
    for fd in "/proc/$BASHPID/fd/"*; do
        fd=${fd##*/}
        if ((fd > 2)); then eval "exec $fd>&-" 2>/dev/null || true; fi
    done
}

# Starts a long-running program in its own session (so the caller's terminal signals do not
# reach it) and records its pid. Output goes to LOGS/name.log.
spawn() { # name command...
    local name=$1
    shift
    (close_inherited_fds && exec setsid "$@") </dev/null >"$LOGS/$name.log" 2>&1 &
    SPAWNED=$!
    record_pid "$name" "$SPAWNED"
}

bus_call() { # bus-address destination path method args...
    local bus=$1 dest=$2 path=$3 method=$4
    shift 4
    dbus-send --bus="$bus" --print-reply --reply-timeout=2000 --dest="$dest" "$path" "$method" "$@"
}

name_has_owner() { # bus-address name
    bus_call "$1" org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner "string:$2" |
        grep -q 'boolean true'
}

# ---------------------------------------------------------------------------------------------
# The pieces, in start order.

make_folders() {
    mkdir -p "$STATE/config" "$STATE/data" "$STATE/cache" "$STATE/state" "$LOGS"
    # Short and private: socket paths must fit in 108 bytes whatever STATEDIR is.
    RUNTIME=$(mktemp -d /tmp/vurin-session.XXXXXX)
    chmod 0700 "$RUNTIME"
    echo "$RUNTIME" >"$STATE/runtime-dir"
    export XDG_RUNTIME_DIR=$RUNTIME XDG_CONFIG_HOME=$STATE/config XDG_DATA_HOME=$STATE/data
    export XDG_CACHE_HOME=$STATE/cache XDG_STATE_HOME=$STATE/state
    unset WAYLAND_DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION SESSION_MANAGER
}

# A dbus-daemon of its own; the session bus lets every user in (sway's commands run as the
# compositor's user), the system bus is the one GNOME Shell insists on finding. Sets BUS. The
# session bus is where GLib and libdbus look without DBUS_SESSION_BUS_ADDRESS.
start_bus() { # session|system
    BUS="unix:path=$RUNTIME/bus"
    if [[ $1 == system ]]; then BUS="unix:path=$RUNTIME/system_bus_socket"; fi
    cat >"$STATE/$1-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$1</type>
  <keep_umask/>
  <listen>$BUS</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    spawn "$1-bus" dbus-daemon --config-file="$STATE/$1-bus.conf" --nofork --nopidfile
    wait_for "the D-Bus $1 bus" "$SPAWNED" \
        bus_call "$BUS" org.freedesktop.DBus / org.freedesktop.DBus.GetId
}

start_dbus() {
    start_bus session
    export DBUS_SESSION_BUS_ADDRESS=$BUS
}

a11y_address() {
    bus_call "$DBUS_SESSION_BUS_ADDRESS" org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress |
        sed -n 's/^ *string "\(.*\)"$/\1/p' | grep .
}

a11y_enabled() {
    bus_call "$DBUS_SESSION_BUS_ADDRESS" org.a11y.Bus /org/a11y/bus \
        org.freedesktop.DBus.Properties.Get string:org.a11y.Status string:IsEnabled |
        grep -q 'boolean true'
}

enable_a11y() {
    bus_call "$DBUS_SESSION_BUS_ADDRESS" org.a11y.Bus /org/a11y/bus \
        org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
        variant:boolean:true && a11y_enabled
}

start_atspi() {
    # The launcher keeps IsEnabled in GSettings; with no dconf service on this bus the
    # memory backend lets the setting stick for the session's lifetime.
    spawn atspi-launcher env GSETTINGS_BACKEND=memory \
        /usr/libexec/at-spi-bus-launcher --launch-immediately
    local launcher=$SPAWNED
    wait_for "the AT-SPI bus" "$launcher" a11y_address
    AT_SPI_BUS_ADDRESS=$(a11y_address)
    export AT_SPI_BUS_ADDRESS
    local child
    for child in $(pgrep -P "$launcher" || true); do
        record_pid atspi-bus "$child" atspi-launcher
    done
    wait_for "the AT-SPI IsEnabled switch" "$launcher" enable_a11y
    # Started here rather than activated by the accessibility bus, so that its pid is ours.
    spawn atspi-registry /usr/libexec/at-spi2-registryd
    wait_for "the AT-SPI registry" "$SPAWNED" \
        name_has_owner "$AT_SPI_BUS_ADDRESS" org.a11y.atspi.Registry
}

secret_round_trip() {
    local value
    printf 'ready' | timeout 5 secret-tool store --label="vurin session check" \
        vurin-session readiness || return 1
    value=$(timeout 5 secret-tool lookup vurin-session readiness) || return 1
    timeout 5 secret-tool clear vurin-session readiness || return 1
    [[ $value == ready ]]
}

start_keyring() {
    # --unlock reads the password on stdin and creates or unlocks the login keyring with it,
    # which then serves as the default collection.
    printf '%s' "$KEYRING_PASSWORD" |
        (close_inherited_fds &&
            exec setsid gnome-keyring-daemon --foreground --unlock --components=secrets) \
            >"$LOGS/gnome-keyring.log" 2>&1 &
    local pid=$!
    record_pid gnome-keyring "$pid"
    wait_for "gnome-keyring (Secret Service)" "$pid" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.secrets
    # A locked collection refuses new items: prove store, lookup and clear before going on.
    wait_for "an unlocked default keyring collection" "$pid" secret_round_trip
    export GNOME_KEYRING_CONTROL=$RUNTIME/keyring
}

pulse_defaults_set() {
    local info
    info=$(timeout 5 pactl info) || return 1
    grep -q '^Default Sink: spk$' <<<"$info" && grep -q '^Default Source: vmic$' <<<"$info"
}

start_pulseaudio() {
    # Daemonizes once the modules are loaded; as root it only warns (never --system).
    (close_inherited_fds && exec timeout "$STEP_TIMEOUT" \
        pulseaudio --daemonize=yes --exit-idle-time=-1 -n \
        --realtime=no --high-priority=no \
        --log-target="file:$LOGS/pulseaudio.log" \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=spk" \
        --load="module-null-sink sink_name=micfeed" \
        --load="module-remap-source master=micfeed.monitor source_name=vmic") \
        </dev/null >"$LOGS/pulseaudio-start.log" 2>&1 ||
        fail "PulseAudio did not come up (log: $LOGS/pulseaudio*.log)"
    local pid
    pid=$(cat "$RUNTIME/pulse/pid" 2>/dev/null) || fail "PulseAudio left no pid file"
    record_pid pulseaudio "$pid"
    # Clients name the server and its cookie outright: tests point XDG_CONFIG_HOME elsewhere.
    export PULSE_SERVER="unix:$RUNTIME/pulse/native"
    export PULSE_COOKIE="$XDG_CONFIG_HOME/pulse/cookie"
    timeout 5 pactl set-default-sink spk >/dev/null 2>&1 || true
    timeout 5 pactl set-default-source vmic >/dev/null 2>&1 || true
    wait_for "PulseAudio with default sink spk and source vmic" "$pid" pulse_defaults_set
    # An idle null sink renders in blocks of up to two seconds, so its monitor would hand a
    # recording of silence over in bursts and lose the unrendered end. A quiet stream played
    # all the time clocks the virtual microphone steadily, as a hardware one is.
    spawn mic-clock pacat --playback --device=micfeed --latency-msec=10 --raw /dev/zero
    # The remapped source hands its first reader nothing for almost two seconds (a hardware
    # microphone does not): read it once here, so no test's first recording starts late.
    timeout 5 parec --device=vmic --latency-msec=20 --raw 2>/dev/null | head -c 1 >/dev/null ||
        true
}

start_tray_watcher() {
    spawn tray-watcher /usr/bin/python3 "$HERE/session/status-notifier-watcher"
    wait_for "the StatusNotifierWatcher" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" org.kde.StatusNotifierWatcher
}

# Single quotes, so that any POSIX shell can source the file.
shell_quote() { printf "'%s'" "${1//\'/\'\\\'\'}"; }

# STATE/env: what every desktop has, then the desktop's own lines.
write_env() { # line...
    local tmp="$STATE/env.tmp" name
    {
        echo "# Written by scripts/test-session; source it to join the session."
        for name in DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS XDG_RUNTIME_DIR \
            XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME PULSE_SERVER \
            PULSE_COOKIE GNOME_KEYRING_CONTROL; do
            echo "export $name=$(shell_quote "${!name}")"
        done
        echo "export VURIN_TEST_SESSION=$(shell_quote "$STATE")"
        printf '%s\n' "$@"
    } >"$tmp"
    mv "$tmp" "$STATE/env"
}

session_running() {
    [[ -f $STATE/pids ]] || return 1
    local name pid start
    while read -r name pid start; do
        if is_running "$pid" "$start"; then return 0; fi
    done <"$STATE/pids"
    return 1
}

# A desktop's backend that owns its name may not have its objects in place yet; a frontend that
# reads it then takes it for a backend without a keyboard for good.
backend_keyboard_ready() { # bus-name
    bus_call "$DBUS_SESSION_BUS_ADDRESS" "$1" /org/freedesktop/portal/desktop \
        org.freedesktop.DBus.Properties.Get \
        string:org.freedesktop.impl.portal.RemoteDesktop string:AvailableDeviceTypes |
        grep -q 'uint32 [1-9]'
}

portal_interface_ready() { # interface
    bus_call "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
        "string:org.freedesktop.portal.$1" string:version | grep -q 'uint32'
}

# xdg-desktop-portal over the backends of STATEDIR/portals for XDG_CURRENT_DESKTOP=$1, ready once
# it offers interface $2; restart-portal starts it again the same way.
spawn_portal_frontend() { # desktop interface
    echo "$1 $2" >"$STATE/portal-frontend"
    spawn xdg-desktop-portal env -u DISPLAY "XDG_DESKTOP_PORTAL_DIR=$STATE/portals" \
        "XDG_CURRENT_DESKTOP=$1" /usr/libexec/xdg-desktop-portal --verbose
    wait_for "xdg-desktop-portal with $2" "$SPAWNED" portal_interface_ready "$2"
}
