#!/bin/sh
# Makes the short speech samples of the README and the first-start playlist:
# espeak-ng voices at 22050 Hz, 16-bit mono. Needs espeak-ng (Debian package).
set -eu
cd "$(dirname "$0")"
espeak-ng -s 150 -w demo.wav \
  "Welcome to Velofon Pocket. This sample is spoken at an ordinary pace. \
Played at twice the speed, every word stays clear, and the voice keeps its pitch."
espeak-ng -v en-us+f3 -s 140 -w demo-lesson.wav \
  "Lesson two. Listening faster is a skill. Start at one and a half times the speed, \
then raise it step by step. After a week, twice the speed feels natural."
