# shellcheck shell=bash
# The KDE desktop of scripts/test-session (sourced by it): KWin 5.27 headless as root (its
# kglobalaccel serves the global shortcuts), the portal's KDE backend (GlobalShortcuts,
# RemoteDesktop) whose consent dialog is on the accessibility bus, and a stand-in tray watcher
# as Plasma's panel would be.

readonly KDE_PORTAL_BACKEND=org.freedesktop.impl.portal.desktop.kde

kwin_answers() {
    bus_call "$DBUS_SESSION_BUS_ADDRESS" org.kde.KWin /KWin org.kde.KWin.currentDesktop
}

start_kwin() {
    # The installed binary carries a file capability (cap_sys_resource) that a container refuses
    # to run; a copy has none.
    mkdir -p "$STATE/bin"
    cp /usr/bin/kwin_wayland "$STATE/bin/kwin_wayland"
    # Where the tests name their fake-input program: KWin notices a change of a folder that was
    # there when it started.
    mkdir -p "$XDG_DATA_HOME/applications"
    WAYLAND_SOCKET_PATH=$RUNTIME/wayland-kde
    # QPainter: no GPU here. The data dirs name the programs that may use KWin's restricted
    # interfaces (X-KDE-Wayland-Interfaces), such as the tests' fake input.
    spawn kwin env -u DISPLAY KWIN_COMPOSE=Q XDG_CURRENT_DESKTOP=KDE XDG_SESSION_TYPE=wayland \
        "$STATE/bin/kwin_wayland" --virtual --no-lockscreen --no-kactivities \
        --socket wayland-kde --width 1280 --height 800
    wait_for "KWin's Wayland socket" "$SPAWNED" wayland_socket_ready
    wait_for "KWin on the session bus" "$SPAWNED" kwin_answers
}

# foot 1.13 divides by the physical size of KWin's virtual output (-1 x -1): it runs behind a
# proxy that says 0 x 0, as GNOME does (VURIN_FOOT_DISPLAY in env).
start_foot_display() {
    FOOT_DISPLAY=$RUNTIME/wayland-kde-foot
    spawn foot-display /usr/bin/python3 "$HERE/session/wayland-filter-proxy" \
        --upstream "$WAYLAND_SOCKET_PATH" --listen "$FOOT_DISPLAY" --unknown-output-size
    wait_for "the Wayland display for foot" "$SPAWNED" \
        "$HERE/session/wayland-filter-proxy" --list-globals --upstream "$FOOT_DISPLAY"
}

start_kde_backend() {
    # Qt 5 registers on the accessibility bus only when told to, and asked through the session
    # bus: the consent dialog is answered there.
    spawn xdg-desktop-portal-kde env -u AT_SPI_BUS_ADDRESS QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
        QT_QPA_PLATFORM=wayland "WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH" XDG_CURRENT_DESKTOP=KDE \
        XDG_SESSION_TYPE=wayland /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde
    wait_for "xdg-desktop-portal-kde" "$SPAWNED" \
        name_has_owner "$DBUS_SESSION_BUS_ADDRESS" "$KDE_PORTAL_BACKEND"
    wait_for "xdg-desktop-portal-kde with its keyboard" "$SPAWNED" backend_keyboard_ready "$KDE_PORTAL_BACKEND"
}

start_kde_portal() {
    start_kde_backend
    start_portal_frontend KDE kde.portal
}

start_kde() {
    require /usr/bin/kwin_wayland /usr/libexec/xdg-desktop-portal \
        /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde
    install_app_data
    start_dbus
    start_atspi
    start_keyring
    start_pulseaudio
    start_tray_watcher
    start_kwin
    start_foot_display
    start_kde_portal
    write_wayland_desktop_env KDE "export VURIN_FOOT_DISPLAY=$(shell_quote "$FOOT_DISPLAY")"
}
