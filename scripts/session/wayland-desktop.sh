# shellcheck shell=bash
# What the KDE and GNOME desktops of scripts/test-session share (sourced by it): Vurin's desktop
# file where the portal looks for it, the compositor's socket, the portal frontend in front of
# the desktop's own backend, and the app scopes of session/in-app-scope.

# The portal names an unsandboxed program by its app scope only when the desktop file of that
# name exists, as it does once the program is installed.
install_app_data() {
    mkdir -p "$STATE/share/applications"
    cp "$HERE/../data/com.vurin.app.desktop" "$STATE/share/applications/"
    export XDG_DATA_DIRS="$STATE/share:/usr/local/share:/usr/share"
}

wayland_socket_ready() { [[ -S $WAYLAND_SOCKET_PATH ]]; }

# The frontend with only the backends named here (*.portal files of /usr/share and ours), for
# XDG_CURRENT_DESKTOP=$1; it reads them once, so the backends run first.
start_portal_frontend() { # desktop portal-file...
    local desktop=$1 file
    shift
    mkdir -p "$STATE/portals"
    for file in "$@"; do
        if [[ $file == */* ]]; then
            cp "$file" "$STATE/portals/"
        else
            cp "/usr/share/xdg-desktop-portal/portals/$file" "$STATE/portals/"
        fi
    done
    spawn_portal_frontend "$desktop" RemoteDesktop
}

# What a Wayland desktop adds to the env every desktop writes.
write_wayland_desktop_env() { # desktop-name line...
    local desktop=$1
    shift
    write_env "export WAYLAND_DISPLAY=$(shell_quote "$WAYLAND_SOCKET_PATH")" \
        "export XDG_SESSION_TYPE=wayland" "export XDG_CURRENT_DESKTOP=$desktop" \
        "export XDG_DATA_DIRS=$(shell_quote "$XDG_DATA_DIRS")" \
        "export VURIN_TEST_DESKTOP=${desktop,,}" "export QT_QPA_PLATFORM=wayland" \
        "export GDK_BACKEND=wayland" "unset DISPLAY DESKTOP_SESSION SESSION_MANAGER" "$@"
    export READY="on WAYLAND_DISPLAY=$WAYLAND_SOCKET_PATH (source $STATE/env)"
}

# The scopes session/in-app-scope made for this session, with whatever still runs in them.
remove_app_scopes() {
    [[ -f $STATE/app-scopes ]] || return 0
    local scope pid
    while read -r scope; do
        [[ -d $scope && $scope == */app.slice/app-*.scope ]] || continue
        while read -r pid; do kill -KILL "$pid" 2>/dev/null || true; done <"$scope/cgroup.procs"
        local deadline=$((SECONDS + STOP_TIMEOUT))
        until rmdir "$scope" 2>/dev/null || ((SECONDS >= deadline)); do sleep 0.05; done
    done <"$STATE/app-scopes"
    rm -f "$STATE/app-scopes"
}
