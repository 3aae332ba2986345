# shellcheck shell=bash
# The GNOME desktop of scripts/test-session (sourced by it): GNOME Shell 43 headless as root, the
# portal's GNOME backend (RemoteDesktop; its consent dialog is on the accessibility bus), and
# gsd-media-keys, which runs GNOME's custom keyboard shortcuts. GNOME 43 has no GlobalShortcuts
# backend and no tray; with VURIN_SESSION_GLOBAL_SHORTCUTS=stand-in the portal offers the stand-in
# desktop of session/global-shortcuts-backend for that one interface.
# The shell insists on logind when /run/systemd/seats exists, and a container has no logind: it
# runs in a mount namespace of its own with an empty /run/systemd. It wants a system bus too,
# which is one of the session's own.

readonly GNOME_PORTAL_BACKEND=org.freedesktop.impl.portal.desktop.gnome
readonly GNOME_TEST_EXTENSION=vurin-test-session@vurin.com

# Settings go through dconf, so that the shell, gsd-media-keys and a test's gsettings share them.
start_dconf() {
    spawn dconf-service /usr/libexec/dconf-service
    wait_for "dconf-service" "$SPAWNED" name_has_owner "$DBUS_SESSION_BUS_ADDRESS" ca.desrt.dconf
    mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
    cp -r "$HERE/session/gnome-shell-extension" \
        "$XDG_DATA_HOME/gnome-shell/extensions/$GNOME_TEST_EXTENSION"
    if ! gsettings set org.gnome.shell enabled-extensions "['$GNOME_TEST_EXTENSION']" ||
        ! gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"; then
        fail "could not write GNOME's settings through dconf (log: $LOGS/dconf-service.log)"
    fi
}

gnome_shell_unsafe() {
    bus_call "$DBUS_SESSION_BUS_ADDRESS" org.gnome.Shell /org/gnome/Shell org.gnome.Shell.Eval \
        string:'Main.overview.visible ? "overview" : "desktop"' | grep -q '"desktop'
}

start_gnome_shell() {
    start_bus system
    export DBUS_SYSTEM_BUS_ADDRESS=$BUS
    WAYLAND_SOCKET_PATH=$RUNTIME/wayland-gnome
    # shellcheck disable=SC2016 # the inner shell expands "$@"
    spawn gnome-shell env -u DISPLAY XDG_CURRENT_DESKTOP=GNOME \
        XDG_SESSION_TYPE=wayland unshare --mount --propagation private \
        sh -c 'mount -t tmpfs tmpfs /run/systemd && exec "$@"' sh \
        gnome-shell --headless --wayland --no-x11 --wayland-display wayland-gnome \
        --virtual-monitor 1280x800
    wait_for "GNOME Shell's Wayland socket" "$SPAWNED" wayland_socket_ready
    wait_for "GNOME Shell (out of the overview, in unsafe mode)" "$SPAWNED" gnome_shell_unsafe
}

start_media_keys() {
    spawn gsd-media-keys env GDK_BACKEND=wayland "WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH" \
        XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland /usr/libexec/gsd-media-keys
    wait_for "gsd-media-keys" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" org.gnome.SettingsDaemon.MediaKeys
}

start_gnome_backend() {
    spawn xdg-desktop-portal-gnome env GDK_BACKEND=wayland \
        "WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH" XDG_CURRENT_DESKTOP=GNOME \
        XDG_SESSION_TYPE=wayland /usr/libexec/xdg-desktop-portal-gnome
    wait_for "xdg-desktop-portal-gnome" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" "$GNOME_PORTAL_BACKEND"
    wait_for "xdg-desktop-portal-gnome with its keyboard" "$SPAWNED" backend_keyboard_ready "$GNOME_PORTAL_BACKEND"
}

# GTK's backend beside it, as Debian's GNOME has it, for its Access dialog only: the portal's
# Background (a program asking to run without a window) needs one.
start_gtk_access_backend() {
    spawn xdg-desktop-portal-gtk env GDK_BACKEND=wayland \
        "WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH" XDG_CURRENT_DESKTOP=GNOME \
        XDG_SESSION_TYPE=wayland /usr/libexec/xdg-desktop-portal-gtk
    wait_for "xdg-desktop-portal-gtk" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.impl.portal.desktop.gtk
    mkdir -p "$STATE/gtk-access"
    printf '%s\n' "[portal]" "DBusName=org.freedesktop.impl.portal.desktop.gtk" \
        "Interfaces=org.freedesktop.impl.portal.Access;" "UseIn=gnome" \
        >"$STATE/gtk-access/gtk-access.portal"
}

start_gnome_portal() {
    start_gnome_backend
    start_gtk_access_backend
    local portals=(gnome.portal "$STATE/gtk-access/gtk-access.portal")
    if [[ ${VURIN_SESSION_GLOBAL_SHORTCUTS:-} == stand-in ]]; then
        mkdir -p "$STATE/stand-in"
        printf '%s\n' "[portal]" "DBusName=org.freedesktop.impl.portal.desktop.vurintest" \
            "Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;" "UseIn=gnome" \
            >"$STATE/stand-in/vurin-test.portal"
        spawn global-shortcuts-backend /usr/bin/python3 "$HERE/session/global-shortcuts-backend"
        wait_for "the stand-in GlobalShortcuts backend" "$SPAWNED" name_has_owner \
            "$DBUS_SESSION_BUS_ADDRESS" org.freedesktop.impl.portal.desktop.vurintest
        portals+=("$STATE/stand-in/vurin-test.portal")
    fi
    start_portal_frontend GNOME "${portals[@]}"
}

start_gnome() {
    require gnome-shell unshare gsettings /usr/libexec/dconf-service /usr/libexec/gsd-media-keys \
        /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gnome \
        /usr/libexec/xdg-desktop-portal-gtk
    install_app_data
    start_dbus
    start_atspi
    start_keyring
    start_pulseaudio
    start_dconf
    start_gnome_shell
    start_media_keys
    start_gnome_portal
    write_wayland_desktop_env GNOME \
        "export DBUS_SYSTEM_BUS_ADDRESS=$(shell_quote "$DBUS_SYSTEM_BUS_ADDRESS")"
}
