#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tray application's figures on an X server and session bus of its own, with xclip as the other
# program: bench/desktop-figures.sh TESSARIL-APP [COPIES] [IDLE-SECONDS]
# (run it through tests/desktop/run-under-x11.sh, on an optimised build). Prints, for each figure,
# the median of its samples:
#   - start-up: from launch to the first copied link pasting clean;
#   - copy to clean: from xclip having copied a tracked link to the clean link on the clipboard;
#   - memory: resident size after start-up and after COPIES copies (default 720, an hour of one
#     copy every five seconds, made as fast as the application takes them);
#   - idle: processor time used over IDLE-SECONDS (default 600) of no copies.
set -u
app=$1 copies=${2:-720} idle=${3:-600}
home=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
mkdir -m 700 "$XDG_RUNTIME_DIR"

now() { date +%s%N; }
paste_now() { xclip -selection clipboard -o 2>/dev/null; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

link='https://shop.example/item?id=3&utm_source=mail&gclid=x'
clean='https://shop.example/item?id=3'

# Start-up, five times: copy the tracked link again every 20 ms until one copy comes back clean.
for run in 1 2 3 4 5; do
    printf %s 'before start' | xclip -selection clipboard
    start=$(now)
    "$app" >/dev/null 2>&1 &
    pid=$!
    until [ "$(paste_now)" = "$clean" ]; do
        printf %s "$link" | xclip -selection clipboard
        sleep 0.02
    done
    echo $((($(now) - start) / 1000000)) >>"$home/startup"
    [ "$run" -lt 5 ] && { kill "$pid"; wait "$pid"; }
done
echo "start-up to the first clean, ms (median of 5): $(median <"$home/startup")"
rss_start=$(rss_kib)

for ((i = 0; i < copies; i++)); do
    # Alternate two links so that each copy changes the clipboard.
    printf %s "$link&n=$((i % 2))" | xclip -selection clipboard
    copied=$(now)
    want="$clean&n=$((i % 2))"
    until [ "$(paste_now)" = "$want" ]; do sleep 0.001; done
    echo $((($(now) - copied) / 1000)) >>"$home/latency"
done
# Each look at the clipboard is an xclip run of its own; its cost is part of the figure above.
for _ in $(seq 20); do t=$(now); paste_now >/dev/null; echo $((($(now) - t) / 1000)); done >"$home/read"
echo "copy to clean, ms (median of $copies): $(median <"$home/latency" | awk '{ printf "%.1f", $1 / 1000 }')" \
    "(one read by xclip takes $(median <"$home/read" | awk '{ printf "%.1f", $1 / 1000 }') ms of it)"
echo "resident memory, MiB: $(awk -v k="$rss_start" 'BEGIN { printf "%.1f", k / 1024 }') after start-up," \
    "$(awk -v k="$(rss_kib)" 'BEGIN { printf "%.1f", k / 1024 }') after $copies copies"

ticks=$(cpu_ticks)
sleep "$idle"
used=$(($(cpu_ticks) - ticks))
echo "idle for $idle s: $used clock ticks of $(getconf CLK_TCK)/s used" \
    "($(awk -v u="$used" -v s="$idle" -v h="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", 100 * u / h / s }') % of one core)"
kill "$pid"
wait "$pid"
pid=""
