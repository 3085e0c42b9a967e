#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tray application on a Wayland compositor with a data-control protocol (run by
# run-under-sway.sh): app-on-wayland.sh TESSARIL-APP RULE-BUNDLE. A tracked link copied by wl-copy
# pastes clean through wl-paste, with no word of an X11 fallback, and SIGTERM ends it cleanly.
set -u
# A session bus of its own, as a desktop session has, so the test can tell when the application is up.
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || exec dbus-run-session -- "$0" "$@" 2> >(grep -v 'fd limit' >&2)
app=$1
home=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data
# The rules beside no installed copy: the bundle given. No Qt platform for Wayland is needed: the
# clipboard goes through the compositor's protocol, and the tray is not what this test looks at.
export TESSARIL_RESOURCES=$(dirname "$2") QT_QPA_PLATFORM=offscreen
fail() { echo "FAILED: $*"; echo "--- its standard error:"; cat "$home/err"; exit 1; }
eventually() {
    for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
running() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.tessaril.Tessaril | grep -q 'boolean true'
}
pastes() { [ "$(wl-paste --no-newline 2>/dev/null)" = "$1" ]; }

"$app" >"$home/out" 2>"$home/err" &
pid=$!
eventually running || fail "the application did not start"
# A copy made before the clipboard is watched is left alone, as anything on the clipboard at start
# is; the application is watching once it has tried to show its icon (this desktop has no tray).
eventually grep -q "no system tray" "$home/err" || fail "the application did not finish starting"
wl-copy 'https://shop.example/item?id=3&utm_source=mail&fbclid=x'
eventually pastes 'https://shop.example/item?id=3' || fail "the copied link pastes as $(wl-paste --no-newline)"
grep -q "XWayland" "$home/err" && fail "it fell back to X11 on a compositor with data-control"

kill -TERM "$pid"
wait "$pid"
status=$?
pid=""
[ "$status" -eq 0 ] || fail "SIGTERM ended the application with status $status"
echo "PASSED"
