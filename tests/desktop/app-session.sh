# SPDX-License-Identifier: GPL-3.0-or-later
# What the application tests share, sourced by app-on-x11.sh and app-on-wayland.sh: a home of the
# test's own, starting and stopping the application, and its tray menu read and clicked over D-Bus
# as a StatusNotifierItem tray does (with DesktopSessionServices --tray as the tray host).
# The sourcing script sets app and services, and defines paste, which prints the clipboard's text.
home=$(mktemp -d)
pids=()
stop_all() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; }
trap 'stop_all; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data
fail() {
    echo "FAILED: $*"
    echo "--- the application's standard error:"
    cat "$home/err"
    echo "--- what the desktop services saw:"
    cat "$home/services" 2>/dev/null
    exit 1
}

# Waits up to ten seconds for a command to succeed.
eventually() {
    for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
running() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.tessaril.Tessaril | grep -q 'boolean true'
}
banner() { grep -qF "$(printf 'notification Tessaril\t%s\t%s' "$1" "$2")" "$home/services"; }
start_app() {
    "$app" >"$home/out" 2>"$home/err" &
    pid=$!
    pids+=("$pid")
    eventually running || fail "the application did not start"
}
stop_app() {
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || fail "$1 ended the application with status $status"
}

pastes() { [ "$(paste)" = "$1" ]; }
pastes_prefix() { [[ "$(paste)" == "$1"* ]]; }

items_more_than() { [ "$(grep -c '^item ' "$home/services")" -gt "$1" ]; }
# Starts the application and finds its menu as the tray does: the icon's item, then its Menu.
start_in_tray() {
    local items
    items=$(grep -c '^item ' "$home/services")
    start_app
    eventually items_more_than "$items" || fail "the icon did not register with the tray"
    item=$(sed -n 's/^item //p' "$home/services" | tail -n 1)
    menu_path=$(gdbus call --session --dest "$item" --object-path /StatusNotifierItem \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu | grep -o "'/[^']*'" | tr -d "'")
    [ -n "$menu_path" ] || fail "the icon offers no menu"
}
# The menu as the tray shows it: opened, then read.
menu() {
    gdbus call --session --dest "$item" --object-path "$menu_path" --method com.canonical.dbusmenu.AboutToShow 0 \
        >/dev/null && gdbus call --session --dest "$item" --object-path "$menu_path" \
        --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]'
}
# A text as a D-Bus menu label: "__" for "_", and a leading shortcut mark when it holds an "&".
label() {
    local text=${1//_/__}
    [[ $text == *"&"* ]] && text="_$text"
    printf %s "$text"
}
shows() { menu | grep -qF "'label': <'$(label "$1")'>"; }
hides() { ! menu | grep -qF "$1"; }
click() {
    local id
    id=$(menu | grep -oE "\(([0-9]+), \{[^{}]*'label': <'$1'>" | grep -oE '^\([0-9]+' | tr -d '(')
    [ -n "$id" ] || fail "the menu has no entry \"$1\""
    gdbus call --session --dest "$item" --object-path "$menu_path" --method com.canonical.dbusmenu.Event -- \
        "$id" clicked '<0>' 0 >/dev/null
}

