#!/bin/sh
# Makes demo.wav, the short speech sample that the README renders: espeak-ng's
# default voice at 22050 Hz, 16-bit mono. Needs espeak-ng (Debian package).
set -eu
cd "$(dirname "$0")"
espeak-ng -s 150 -w demo.wav \
  "Welcome to Velofon Pocket. This sample is spoken at an ordinary pace. \
Played at twice the speed, every word stays clear, and the voice keeps its pitch."
