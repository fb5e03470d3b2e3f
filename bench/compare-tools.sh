#!/usr/bin/env bash
# Times `velofon render` against the time-stretch tools a listener would
# otherwise use, on ten minutes of 44.1 kHz stereo speech at 2.0x, whole
# process, output to a WAV file. Prints the best of several runs for each and
# the ratio to velofon; also velofon's peak memory on one and on ten minutes,
# which must stay the same (it streams). Goal: at least 10 times as fast as
# the fastest peer at its default settings. The clear mode (--clear) is timed
# beside them; goal: at least 3 times as fast as sonic.
#
# Then the same ten minutes as an MP3 (libmp3lame, 128 kbit/s): `velofon render
# --speed 2.0` of it against FFmpeg's own decode of it to 16-bit PCM
# (`ffmpeg -i IN -f s16le -y /dev/null`), the two run alternately, best of
# several runs each, and the ratio; and velofon's peak memory on a one-minute
# and a sixty-minute MP3. Goals: the ratio at most 1.0, and the sixty minutes
# within 4 MB of the one minute.
#
# Needs: espeak-ng, sox, time, ffmpeg (with libmp3lame) for the MP3 part, and
# whichever of sonic, soundstretch, rubberband-cli are installed (Debian
# packages); missing tools are skipped.
#
# Usage: bench/compare-tools.sh [--check] [path/to/velofon]   (default: build/bin/velofon)
#   --check   exit 1 when a goal is missed (2 when the MP3 goals cannot be measured);
#             without it the script only prints.
#   RUNS=N    runs per command (default 5); the best one counts.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
check=false
velofon=$here/../build/bin/velofon
for argument in "$@"; do
  case $argument in
    --check) check=true ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "compare-tools: unknown option $argument" >&2; exit 2 ;;
    *) velofon=$argument ;;
  esac
done
runs=${RUNS:-5}
ratio_goal=1.0
over_peers_goal=10
clear_over_sonic_goal=3
memory_growth_goal_kb=4096
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! command -v espeak-ng >/dev/null || ! command -v sox >/dev/null || [ ! -x /usr/bin/time ]; then
  echo "compare-tools: needs espeak-ng, sox and time" >&2; exit 2
fi
[ -x "$velofon" ] || { echo "compare-tools: no velofon at $velofon (build first)" >&2; exit 2; }

text="The lecture continues with a review of the main ideas, the evidence behind them, and the questions that remain open for the next session."
espeak-ng -s 160 -w "$work/phrase.wav" "$text $text $text $text"
sox "$work/phrase.wav" -r 44100 -c 2 "$work/phrase44.wav"
repeats=$(awk -v d="$(soxi -D "$work/phrase44.wav")" 'BEGIN { print int(600 / d) + 1 }')
sox "$work/phrase44.wav" "$work/talk.wav" repeat "$repeats" trim 0 600
sox "$work/talk.wav" "$work/talk1.wav" trim 0 60
in=$work/talk.wav
out=$work/out.wav

# Sets $elapsed to the wall-clock seconds the command took (to the millisecond);
# returns the command's status.
timed() {
  local start=${EPOCHREALTIME/[.,]/} status=0
  "$@" >/dev/null 2>&1 || status=$?
  local end=${EPOCHREALTIME/[.,]/}
  elapsed=$(awk -v us=$((end - start)) 'BEGIN { printf "%.3f", us / 1e6 }')
  return "$status"
}

# The smaller of two numbers; an empty first one counts as none.
lower() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }

# Sets $best to the best wall-clock seconds of $runs runs of the command, or
# to "failed" when a run fails.
best_time() {
  best=""
  for _ in $(seq "$runs"); do
    rm -f "$out"
    timed "$@" || { best=failed; return; }
    best=$(lower "$best" "$elapsed")
  done
}

# Peak resident memory (KB) of one run of the command; fails when it does.
peak_kb() {
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>&1 || return 1
  tail -n 1 "$work/time"
}

declare -a names commands
add() { names+=("$1"); commands+=("$2"); }
add "velofon render"               "$velofon render --speed 2.0 -o $out $in"
add "velofon render --clear"       "$velofon render --clear --speed 2.0 -o $out $in"
command -v sox >/dev/null          && add "sox tempo 2.0"              "sox $in $out tempo 2.0"
command -v sonic >/dev/null        && add "sonic -s 2.0"               "sonic -s 2.0 $in $out"
command -v soundstretch >/dev/null && add "soundstretch -tempo=+100"   "soundstretch $in $out -tempo=+100"
command -v soundstretch >/dev/null && add "soundstretch -quick -naa"   "soundstretch $in $out -tempo=+100 -quick -naa"
command -v rubberband >/dev/null   && add "rubberband -T 2.0"          "rubberband -T 2.0 $in $out"
command -v ffmpeg >/dev/null       && add "ffmpeg atempo=2.0"          "ffmpeg -v error -y -i $in -filter:a atempo=2.0 $out"

printf 'WAV input, best of %s runs each:\n' "$runs"
printf '%-28s %9s %9s\n' "tool (10 min, 44.1 kHz stereo)" "seconds" "x velofon"
base=""
declare -A seconds
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086
  best_time ${commands[$i]}
  if [ "$best" = failed ]; then printf '%-28s %9s\n' "${names[$i]}" "failed"; continue; fi
  seconds[${names[$i]}]=$best
  [ -n "$base" ] || base=$best
  printf '%-28s %9s %9s\n' "${names[$i]}" "$best" "$(awk -v t="$best" -v b="$base" 'BEGIN { printf "%.1f", (b > 0 ? t / b : 0) }')"
done

clear_met=yes
if [ -n "${seconds[sonic -s 2.0]:-}" ] && [ -n "${seconds[velofon render --clear]:-}" ]; then
  clear_ratio=$(awk -v s="${seconds[sonic -s 2.0]}" -v c="${seconds[velofon render --clear]}" \
    'BEGIN { printf "%.1f", (c > 0 ? s / c : 999) }')
  clear_met=$(awk -v r="$clear_ratio" -v g="$clear_over_sonic_goal" 'BEGIN { print (r >= g) ? "yes" : "no" }')
  printf 'the clear mode is %sx as fast as sonic (goal: at least %sx) %s\n' "$clear_ratio" "$clear_over_sonic_goal" \
    "$([ "$clear_met" = yes ] && echo ok || echo UNDER THE GOAL)"
fi

# The peers at their default settings: soundstretch's -quick -naa is not one.
fastest_peer=""
for name in "${!seconds[@]}"; do
  case $name in velofon*|*-quick*) continue ;; esac
  fastest_peer=$(lower "$fastest_peer" "${seconds[$name]}")
done
peers_met=yes
if [ -n "$fastest_peer" ] && [ -n "${seconds[velofon render]:-}" ]; then
  peers_ratio=$(awk -v p="$fastest_peer" -v v="${seconds[velofon render]}" 'BEGIN { printf "%.1f", (v > 0 ? p / v : 999) }')
  peers_met=$(awk -v r="$peers_ratio" -v g="$over_peers_goal" 'BEGIN { print (r >= g) ? "yes" : "no" }')
  printf 'velofon render is %sx as fast as the fastest peer at its default settings (goal: at least %sx) %s\n' \
    "$peers_ratio" "$over_peers_goal" "$([ "$peers_met" = yes ] && echo ok || echo UNDER THE GOAL)"
fi

printf '\nvelofon peak memory: %s KB on 1 minute, %s KB on 10 minutes\n' \
  "$(peak_kb "$velofon" render -o "$out" "$work/talk1.wav")" "$(peak_kb "$velofon" render -o "$out" "$in")"
printf 'velofon --clear peak memory: %s KB on 1 minute, %s KB on 10 minutes\n' \
  "$(peak_kb "$velofon" render --clear -o "$out" "$work/talk1.wav")" \
  "$(peak_kb "$velofon" render --clear -o "$out" "$in")"
if $check && { [ "$clear_met" = no ] || [ "$peers_met" = no ]; }; then exit 1; fi

# --- MP3 ---------------------------------------------------------------------
cannot_measure() {
  echo "compare-tools: $1; the MP3 part is skipped" >&2
  if $check; then exit 2; fi
  exit 0
}
command -v ffmpeg >/dev/null || cannot_measure "no ffmpeg"
mp3=$work/talk.mp3
ffmpeg -v error -nostdin -y -i "$in" -c:a libmp3lame -b:a 128k "$mp3" ||
  cannot_measure "ffmpeg could not encode an MP3 (libmp3lame)"
ffmpeg -v error -nostdin -y -i "$work/talk1.wav" -c:a libmp3lame -b:a 128k "$work/talk1.mp3"
# Sixty minutes: the ten-minute MP3 six times over, its frames copied as they are.
ffmpeg -v error -nostdin -y -stream_loop 5 -i "$mp3" -c copy "$work/talk60.mp3"

velofon_mp3=(         "$velofon" render --speed 2.0 -o "$out" "$mp3")
ffmpeg_decode=(ffmpeg -v error -nostdin -i "$mp3" -f s16le -y /dev/null)
velofon_best="" ffmpeg_best=""
for _ in $(seq "$runs"); do   # alternately, so that both meet the same load on the machine
  rm -f "$out"
  timed "${velofon_mp3[@]}" || { echo "compare-tools: velofon render failed on the MP3" >&2; exit 1; }
  velofon_best=$(lower "$velofon_best" "$elapsed")
  timed "${ffmpeg_decode[@]}" || { echo "compare-tools: ffmpeg failed to decode the MP3" >&2; exit 1; }
  ffmpeg_best=$(lower "$ffmpeg_best" "$elapsed")
done
ratio=$(awk -v v="$velofon_best" -v f="$ffmpeg_best" 'BEGIN { printf "%.2f", (f > 0 ? v / f : 999) }')
ratio_met=$(awk -v r="$ratio" -v g="$ratio_goal" 'BEGIN { print (r <= g) ? "yes" : "no" }')

printf '\nMP3 input (10 min, 44.1 kHz stereo, 128 kbit/s), best of %s runs each, alternating:\n' "$runs"
printf '%-40s %9s\n' "velofon render --speed 2.0 -o OUT.wav" "$velofon_best"
printf '%-40s %9s\n' "ffmpeg -i IN -f s16le -y /dev/null" "$ffmpeg_best"
printf 'ratio %s (goal: at most %s) %s\n' "$ratio" "$ratio_goal" \
  "$([ "$ratio_met" = yes ] && echo ok || echo OVER THE GOAL)"

# Lowest peak of three runs for each length.
minute_kb="" hour_kb=""
for _ in 1 2 3; do
  kb=$(peak_kb "$velofon" render --speed 2.0 -o "$out" "$work/talk1.mp3") ||
    { echo "compare-tools: velofon render failed on the one-minute MP3" >&2; exit 1; }
  minute_kb=$(lower "$minute_kb" "$kb")
  kb=$(peak_kb "$velofon" render --speed 2.0 -o "$out" "$work/talk60.mp3") ||
    { echo "compare-tools: velofon render failed on the sixty-minute MP3" >&2; exit 1; }
  hour_kb=$(lower "$hour_kb" "$kb")
done
growth_kb=$((hour_kb - minute_kb))
memory_met=$([ "$growth_kb" -le "$memory_growth_goal_kb" ] && echo yes || echo no)
printf 'velofon peak memory on MP3 (lowest of 3): %s KB on 1 minute, %s KB on 60 minutes, %+d KB (goal: at most +%s) %s\n' \
  "$minute_kb" "$hour_kb" "$growth_kb" "$memory_growth_goal_kb" \
  "$([ "$memory_met" = yes ] && echo ok || echo GROWS WITH THE FILE)"

if $check && { [ "$ratio_met" = no ] || [ "$memory_met" = no ]; }; then exit 1; fi
exit 0
