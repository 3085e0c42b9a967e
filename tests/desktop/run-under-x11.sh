#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a test program on an X server and a session bus of its own: run-under-x11.sh PROGRAM [ARGS...].
# A missing tool skips the test (exit 77) for a developer; as root, where CI installs them, that is
# a failure.
set -u
skip() {
    [ "$(id -u)" -eq 0 ] && { echo "FAILED: $*"; exit 1; }
    echo "SKIPPED: $*"
    exit 77
}
command -v xvfb-run >/dev/null || skip "xvfb-run is not installed (xvfb)"
command -v xclip >/dev/null || skip "xclip is not installed"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (dbus)"

# dbus-run-session complains, harmlessly, that root may not raise its file limit.
exec dbus-run-session -- xvfb-run -a -s "-nolisten tcp" "$@" 2> >(grep -v 'Failed to set fd limit' >&2)
