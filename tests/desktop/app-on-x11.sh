#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tray application as a person meets it on an X11 desktop (run by run-under-x11.sh, which gives
# it an X server and a session bus of its own): app-on-x11.sh TESSARIL-APP.
# A tracked link copied by another program pastes clean; a second start opens the running one's
# preferences and ends; SIGTERM ends the application cleanly. Without a tray on this desktop the
# application says so once and keeps watching.
set -u
app=$1
home=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAILED: $*"; echo "--- its standard error:"; cat "$home/err"; exit 1; }

# Waits up to five seconds for a command to succeed.
eventually() {
    for _ in $(seq 50); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
running() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.tessaril.Tessaril | grep -q 'boolean true'
}
pastes() { [ "$(xclip -selection clipboard -o 2>/dev/null)" = "$1" ]; }
window() { xwininfo -root -tree | grep -q "\"$1\""; }

# Its version and help need no display.
env -u DISPLAY -u WAYLAND_DISPLAY "$app" --version | grep -q '^tessaril-app [0-9]' || fail "--version"
env -u DISPLAY -u WAYLAND_DISPLAY "$app" --help | grep -q '^Usage: tessaril-app' || fail "--help"

"$app" >"$home/out" 2>"$home/err" &
pid=$!
eventually running || fail "the application did not start"
# A copy made before the clipboard is watched is left alone, as anything on the clipboard at start
# is; the application is watching once it has tried to show its icon (this desktop has no tray).
eventually grep -q "no system tray" "$home/err" || fail "the application did not finish starting"

printf %s 'https://shop.example/item?id=3&utm_source=mail&gclid=x' | xclip -selection clipboard
eventually pastes 'https://shop.example/item?id=3' || fail "the copied link pastes as $(xclip -selection clipboard -o)"
# Text that is no link stays as it was copied.
printf %s 'meeting notes, 3 pm' | xclip -selection clipboard
sleep 1.5
pastes 'meeting notes, 3 pm' || fail "plain text pastes as $(xclip -selection clipboard -o)"

second=$("$app" 2>&1) || fail "a second start failed: $second"
[[ $second == *"already running"* ]] || fail "a second start said: $second"
eventually window "Tessaril Preferences" || fail "the second start did not open the preferences"
kill -0 "$pid" || fail "the first instance ended"

grep -q "no system tray" "$home/err" || fail "no word about the missing tray"
[ "$(grep -c "no system tray" "$home/err")" -eq 1 ] || fail "the missing tray was reported more than once"

kill -TERM "$pid"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 0 ] || fail "SIGTERM ended the application with status $status"
echo "PASSED"
