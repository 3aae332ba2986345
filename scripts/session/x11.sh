# shellcheck shell=bash
# The X11 desktop of scripts/test-session (sourced by it): Xvfb + openbox and a stand-in tray
# watcher, and beside the X display a headless sway on the same bus with xdg-desktop-portal and
# stand-in desktops behind its GlobalShortcuts (session/global-shortcuts-backend) and
# RemoteDesktop (session/remote-desktop-backend, whose keys arrive in sway).
# sway refuses to run as root: a root caller gets it as the system user vurin-wayland (made
# here once), whose commands (`swaymsg bindsym … exec …`) reach the session bus as that user.
# A second Wayland display (VURIN_WAYLAND_NO_DATA_CONTROL_DISPLAY in wayland-env) is that sway
# through session/wayland-filter-proxy, which hides data-control as GNOME lacks it.

readonly WAYLAND_USER=vurin-wayland
readonly PORTAL_BACKEND=org.freedesktop.impl.portal.desktop.vurintest
readonly REMOTE_DESKTOP_BACKEND=$PORTAL_BACKEND.RemoteDesktop

# `read` succeeds only on a whole line, so a half-written number is never taken.
display_written() { local n && read -r n <"$STATE/display" && [[ $n =~ ^[0-9]+$ ]]; }

start_xvfb() {
    : >"$STATE/display"
    # -displayfd: Xvfb picks a free display and writes its number once it accepts clients.
    (close_inherited_fds && exec setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 \
        -nolisten tcp -noreset 3>"$STATE/display") </dev/null >"$LOGS/xvfb.log" 2>&1 &
    local pid=$!
    record_pid xvfb "$pid"
    wait_for "Xvfb" "$pid" display_written
    DISPLAY=":$(tr -d '[:space:]' <"$STATE/display")"
    export DISPLAY
}

window_manager_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

start_openbox() {
    spawn openbox openbox --sm-disable
    wait_for "openbox" "$SPAWNED" window_manager_running
}

# Sets SWAY_USER and RUN_AS (the command prefix that becomes that user).
wayland_user() {
    if ((EUID != 0)); then
        SWAY_USER=$(id -un)
        RUN_AS=()
        return
    fi
    SWAY_USER=$WAYLAND_USER
    # Another session may be creating the user at the same moment: its existence is what counts.
    if ! getent passwd "$SWAY_USER" >/dev/null; then
        useradd --system --user-group --home-dir "/var/lib/$SWAY_USER" --create-home \
            --shell /usr/sbin/nologin --comment "Vurin test session compositor" "$SWAY_USER" \
            >>"$LOGS/sway.log" 2>&1 || true
        getent passwd "$SWAY_USER" >/dev/null ||
            fail "could not create the user $SWAY_USER for sway (log: $LOGS/sway.log)"
    fi
    RUN_AS=(setpriv "--reuid=$SWAY_USER" "--regid=$SWAY_USER" --init-groups)
}

sway_answers() { swaymsg -s "$SWAYSOCK" -t get_version; }

start_sway() {
    wayland_user
    # Its user reaches the bus socket by name, the pulse and keyring folders stay private.
    chmod 0711 "$RUNTIME"
    SWAY_RUNTIME=$RUNTIME/wayland
    mkdir -m 0700 "$SWAY_RUNTIME"
    if ((EUID == 0)); then chown "$SWAY_USER:$SWAY_USER" "$SWAY_RUNTIME"; fi
    cat >"$SWAY_RUNTIME/sway.conf" <<'EOF'
# Written by scripts/test-session: the one headless output, no bar, no key bindings (tests add
# theirs with `swaymsg bindsym ...`).
xwayland disable
output HEADLESS-1 resolution 1280x1024
EOF
    local home
    home=$(getent passwd "$SWAY_USER" | cut -d: -f6)
    spawn sway env -i "HOME=$home" "USER=$SWAY_USER" "LANG=${LANG:-C.UTF-8}" \
        PATH=/usr/local/bin:/usr/bin:/bin \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway "XDG_RUNTIME_DIR=$SWAY_RUNTIME" \
        "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS" \
        "${RUN_AS[@]}" sway -c "$SWAY_RUNTIME/sway.conf"
    SWAYSOCK=$SWAY_RUNTIME/sway-ipc.$(id -u "$SWAY_USER").$SPAWNED.sock
    wait_for "sway" "$SPAWNED" sway_answers
    # sway opens its Wayland socket before its IPC one, in a folder of its own.
    local socket
    for socket in "$SWAY_RUNTIME"/wayland-[0-9]*; do
        if [[ -S $socket ]]; then WAYLAND_SOCKET_PATH=$socket; fi
    done
    [[ -n ${WAYLAND_SOCKET_PATH:-} ]] || fail "sway answers but left no Wayland socket"
}

# The same compositor minus data-control, as GNOME offers it: the typed-text tests run there.
no_data_control_display_ready() {
    local globals
    globals=$("$HERE/session/wayland-filter-proxy" --list-globals \
        --upstream "$NO_DATA_CONTROL_SOCKET") || return 1
    grep -qx wl_seat <<<"$globals" && ! grep -q data_control <<<"$globals"
}

start_no_data_control_display() {
    NO_DATA_CONTROL_SOCKET=$SWAY_RUNTIME/wayland-nodc
    spawn wayland-filter-proxy /usr/bin/python3 "$HERE/session/wayland-filter-proxy" \
        --upstream "$WAYLAND_SOCKET_PATH" --listen "$NO_DATA_CONTROL_SOCKET" \
        --hide zwlr_data_control_manager_v1,ext_data_control_manager_v1
    wait_for "the Wayland display without data-control" "$SPAWNED" no_data_control_display_ready
}

start_portal() {
    mkdir -p "$STATE/portals"
    printf '%s\n' "[portal]" "DBusName=$PORTAL_BACKEND" \
        "Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;" "UseIn=sway" \
        >"$STATE/portals/vurin-test.portal"
    # The frontend looks for its backends once, at start-up.
    spawn global-shortcuts-backend /usr/bin/python3 "$HERE/session/global-shortcuts-backend"
    wait_for "the stand-in GlobalShortcuts backend" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" "$PORTAL_BACKEND"
    # RemoteDesktop (as GNOME and KDE offer it): its keys go into sway through a virtual keyboard.
    printf '%s\n' "[portal]" "DBusName=$REMOTE_DESKTOP_BACKEND" \
        "Interfaces=org.freedesktop.impl.portal.RemoteDesktop;" "UseIn=sway" \
        >"$STATE/portals/vurin-test-remote-desktop.portal"
    spawn remote-desktop-backend env "WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH" \
        /usr/bin/python3 "$HERE/session/remote-desktop-backend"
    wait_for "the stand-in RemoteDesktop backend" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" "$REMOTE_DESKTOP_BACKEND"
    spawn_portal_frontend sway GlobalShortcuts
}

# What a Wayland client adds to env. The socket's absolute path lets a client of another user
# (root) reach the compositor; XDG_RUNTIME_DIR stays the session's (bus, sound, keyring).
write_wayland_env() {
    local tmp="$STATE/wayland-env.tmp"
    {
        echo "# Written by scripts/test-session; source it after env to be a Wayland client."
        echo "export WAYLAND_DISPLAY=$(shell_quote "$WAYLAND_SOCKET_PATH")"
        echo "export SWAYSOCK=$(shell_quote "$SWAYSOCK")"
        echo "export XDG_SESSION_TYPE=wayland"
        echo "export XDG_CURRENT_DESKTOP=sway"
        echo "export VURIN_WAYLAND_USER=$(shell_quote "$SWAY_USER")"
        echo "export VURIN_WAYLAND_RUNTIME_DIR=$(shell_quote "$SWAY_RUNTIME")"
        echo "export VURIN_WAYLAND_NO_DATA_CONTROL_DISPLAY=$(shell_quote "$NO_DATA_CONTROL_SOCKET")"
        echo "unset DISPLAY"
    } >"$tmp"
    mv "$tmp" "$STATE/wayland-env"
}

start_x11() {
    start_xvfb
    start_dbus
    start_openbox
    start_atspi
    start_keyring
    start_pulseaudio
    start_tray_watcher
    start_sway
    start_no_data_control_display
    start_portal
    write_env "export DISPLAY=$(shell_quote "$DISPLAY")" "export XDG_SESSION_TYPE=x11" \
        "unset WAYLAND_DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION SESSION_MANAGER"
    write_wayland_env
    export READY="on DISPLAY=$DISPLAY and WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH (source $STATE/env, then"
    READY+=" wayland-env for Wayland)"
}
