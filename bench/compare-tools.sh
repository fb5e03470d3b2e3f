#!/usr/bin/env bash
# Times `velofon render` against the time-stretch tools a listener would
# otherwise use, on ten minutes of 44.1 kHz stereo speech at 2.0x, whole
# process, output to a WAV file. Prints the best of several runs for each and
# the ratio to velofon; also velofon's peak memory on one and on ten minutes,
# which must stay the same (it streams).
#
# Needs: espeak-ng, sox, time, and whichever of sonic, soundstretch, rubberband-cli
# and ffmpeg are installed (Debian packages); missing tools are skipped.
# Usage: bench/compare-tools.sh [path/to/velofon]   (default: build/bin/velofon)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
velofon=${1:-$here/../build/bin/velofon}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command -v espeak-ng >/dev/null && command -v sox >/dev/null && [ -x /usr/bin/time ] || {
  echo "compare-tools: needs espeak-ng, sox and time" >&2; exit 2; }
[ -x "$velofon" ] || { echo "compare-tools: no velofon at $velofon (build first)" >&2; exit 2; }

text="The lecture continues with a review of the main ideas, the evidence behind them, and the questions that remain open for the next session."
espeak-ng -s 160 -w "$work/phrase.wav" "$text $text $text $text"
sox "$work/phrase.wav" -r 44100 -c 2 "$work/phrase44.wav"
repeats=$(awk -v d="$(soxi -D "$work/phrase44.wav")" 'BEGIN { print int(600 / d) + 1 }')
sox "$work/phrase44.wav" "$work/talk.wav" repeat "$repeats" trim 0 600
sox "$work/talk.wav" "$work/talk1.wav" trim 0 60
in=$work/talk.wav
out=$work/out.wav

# Best wall-clock seconds of $runs runs of the command.
best_time() {
  local best=""
  for _ in $(seq "$runs"); do
    rm -f "$out"
    local t
    /usr/bin/time -f "%e" -o "$work/time" "$@" >/dev/null 2>&1
    t=$(tail -n 1 "$work/time")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
  done
  echo "$best"
}

peak_kb() {
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1
  tail -n 1 "$work/time"
}

declare -a names commands
add() { names+=("$1"); commands+=("$2"); }
add "velofon render"               "$velofon render --speed 2.0 -o $out $in"
command -v sox >/dev/null          && add "sox tempo 2.0"              "sox $in $out tempo 2.0"
command -v sonic >/dev/null        && add "sonic -s 2.0"               "sonic -s 2.0 $in $out"
command -v soundstretch >/dev/null && add "soundstretch -tempo=+100"   "soundstretch $in $out -tempo=+100"
command -v soundstretch >/dev/null && add "soundstretch -quick -naa"   "soundstretch $in $out -tempo=+100 -quick -naa"
command -v rubberband >/dev/null   && add "rubberband -T 2.0"          "rubberband -T 2.0 $in $out"
command -v ffmpeg >/dev/null       && add "ffmpeg atempo=2.0"          "ffmpeg -v error -y -i $in -filter:a atempo=2.0 $out"

printf '%-28s %9s %9s\n' "tool (10 min, 44.1 kHz stereo)" "seconds" "x velofon"
base=""
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086
  t=$(best_time ${commands[$i]})
  [ -n "$base" ] || base=$t
  printf '%-28s %9s %9s\n' "${names[$i]}" "$t" "$(awk -v t="$t" -v b="$base" 'BEGIN { printf "%.1f", (b > 0 ? t / b : 0) }')"
done

printf '\nvelofon peak memory: %s KB on 1 minute, %s KB on 10 minutes\n' \
  "$(peak_kb "$velofon" render -o "$out" "$work/talk1.wav")" "$(peak_kb "$velofon" render -o "$out" "$in")"
