#!/usr/bin/env bash
# Jumps in a 10-hour MP3, as a listener of a long book makes them: a minute of
# the demo speech encoded once (libmp3lame, 64 kbit/s) and its frames copied
# 600 times, then `seek_bench` on it (see bench/SeekBench.cpp). Goal: once the
# file has been listened to for 20 seconds, a jump anywhere sounds within
# 250 ms (median), landing on the very sample a newly opened file lands on.
#
# Needs: ffmpeg with libmp3lame, and a build with -DVELOFON_BUILD_BENCH=ON.
#
# Usage: bench/long-seeks.sh [--check] [path/to/seek_bench]   (default: build/bin/seek_bench)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bench=$here/../build/bin/seek_bench
check=()
for argument in "$@"; do
  case $argument in
    --check) check=(--check) ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "long-seeks: unknown option $argument" >&2; exit 2 ;;
    *) bench=$argument ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -stream_loop -1 -i "$here/../assets/demo.wav" -t 60 -c:a libmp3lame -b:a 64k "$work/minute.mp3"
ffmpeg -nostdin -v error -stream_loop 599 -i "$work/minute.mp3" -c copy "$work/ten-hours.mp3"
"$bench" "${check[@]}" "$work/ten-hours.mp3"
