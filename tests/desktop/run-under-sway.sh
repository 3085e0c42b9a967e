#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program against a headless Sway of its own: run-under-sway.sh PROGRAM [ARGS...].
# Sway refuses to run as root, so as root (CI) it and the program run as a throw-away user, from a
# copy in a temporary folder that user can read. The compositor's process id is in
# TESSARIL_TEST_COMPOSITOR_PID for tests that stop it. Without root, a Sway that cannot run here
# skips the test (exit 77); as root, where CI installs it, that is a failure.
set -u
skip() {
    [ "$(id -u)" -eq 0 ] && { echo "FAILED: $*"; exit 1; }
    echo "SKIPPED: $*"
    exit 77
}

program=$1
shift
command -v sway >/dev/null || skip "sway is not installed"
command -v wl-copy >/dev/null || skip "wl-copy is not installed (wl-clipboard)"

work=$(mktemp -d /tmp/tessaril-wayland.XXXXXX)
sway_pid=""
cleanup() {
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null && sleep 0.2
    [ -n "$sway_pid" ] && kill -9 "$sway_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if [ "$(id -u)" -eq 0 ]; then
    user=tessaril-test
    id "$user" >/dev/null 2>&1 || useradd -m "$user" || skip "cannot create the user $user"
    as_user() { runuser -u "$user" -- "$@"; }
    chown "$user" "$work"
else
    as_user() { "$@"; }
fi
chmod 700 "$work"
cp "$program" "$work/" || exit 1
# A test script comes with the scripts it sources from its own folder.
[[ $program == *.sh ]] && cp "$(dirname "$program")"/*.sh "$work/"
copy="$work/$(basename "$program")"
# A sanitizer's suppressions file in the checkout may be out of that user's reach too.
for options in TSAN_OPTIONS LSAN_OPTIONS; do
    if [[ "${!options:-}" =~ suppressions=([^:]+) ]]; then
        copy_of="$work/${options%_OPTIONS}.supp"
        cp "${BASH_REMATCH[1]}" "$copy_of" && export "$options=${!options/${BASH_REMATCH[1]}/$copy_of}"
    fi
done
: >"$work/sway.conf"
chown -R --reference="$work" "$work"

as_user sh -c 'echo $$ >"$1/sway.pid"; exec env XDG_RUNTIME_DIR="$1" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$1/sway.conf" >"$1/sway.log" 2>&1' sh "$work" &
socket=""
for _ in $(seq 50); do
    socket=$(ls "$work" 2>/dev/null | grep -m1 '^wayland-[0-9]*$')
    [ -n "$socket" ] && break
    sleep 0.1
done
sway_pid=$(cat "$work/sway.pid" 2>/dev/null)
if [ -z "$socket" ]; then
    cat "$work/sway.log" 2>/dev/null | tail -5
    skip "headless Sway did not start"
fi

# Arguments that name files or folders (a program the test starts, the rules it reads) get copies
# in the same reach.
arguments=()
for argument in "$@"; do
    if [[ $argument == /* && -e $argument ]]; then
        mkdir -p "$work/arguments/${#arguments[@]}"
        cp -r "$argument" "$work/arguments/${#arguments[@]}/" || exit 1
        argument="$work/arguments/${#arguments[@]}/$(basename "$argument")"
    fi
    arguments+=("$argument")
done
chown -R --reference="$work" "$work"

as_user env XDG_RUNTIME_DIR="$work" WAYLAND_DISPLAY="$socket" TESSARIL_TEST_COMPOSITOR_PID="$sway_pid" \
    "$copy" "${arguments[@]}"
