# shellcheck shell=bash
# placeholder
start_gnome() { fail "gnome: not yet"; }
