#!/usr/bin/env python3
"""What the running player costs: CPU time per second of playback and memory.

1. CPU: the player plays a file at 2.0x with Alpha at its highest level
   (50 %) through SDL's dummy audio driver, which takes sound at the pace of
   a real device; the player's user+system time over a minute of playback is
   divided by the wall time. Once for 22050 Hz mono, once for 44100 Hz stereo.
   Goal: under 1 % of one core.
2. Memory: the player's resident set while it plays a one-hour file and a
   one-minute file, and `velofon render`'s peak on the same two files. Goal:
   flat in the file's length (the engine streams through fixed buffers).

Needs Xvfb and xdotool (scripts/install-deps installs both). The player runs
on an X server of its own with settings of its own, so a running player and
the user's settings are not touched. Exits 1 when a goal is missed.

Usage: bench/player-load.py [--build build] [--seconds 60]
"""
import argparse
import math
import os
import random
import signal
import struct
import subprocess
import sys
import tempfile
import time

PLAY_BUTTON = (292, 26 + 149)  # centre of Play/Pause below the command bar
CPU_GOAL_PERCENT = 1.0
MEMORY_GROWTH_LIMIT_KB = 1024  # one hour may cost no more than this over one minute
TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")


def write_speech_like_wav(path, rate, channels, seconds):
    """A voice-like signal (a gliding harmonic tone in syllable bursts) as 16-bit PCM."""
    rng = random.Random(rate * 31 + channels)
    period = rate  # one second of sound, repeated: enough variety, quick to make
    block = bytearray()
    for n in range(period):
        t = n / rate
        pitch = 120 + 30 * math.sin(2 * math.pi * 0.7 * t)
        envelope = max(0.0, math.sin(2 * math.pi * 4 * t))
        value = envelope * (0.5 * math.sin(2 * math.pi * pitch * t) + 0.25 * math.sin(4 * math.pi * pitch * t))
        sample = int(9000 * value + rng.randint(-300, 300))
        block += struct.pack("<h", sample) * channels
    data_bytes = len(block) * seconds
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE")
        out.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * channels * 2, channels * 2, 16))
        out.write(b"data" + struct.pack("<I", data_bytes))
        for _ in range(seconds):
            out.write(block)


class XServer:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            self.display = ":" + reader.readline().strip()

    def close(self):
        self.process.terminate()
        self.process.wait()


def xdotool(display, *args):
    result = subprocess.run(["xdotool", *args], env={**os.environ, "DISPLAY": display},
                            capture_output=True, text=True, timeout=10)
    return result.stdout.strip() if result.returncode == 0 else ""


def wait_for_window(display, title, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        window = xdotool(display, "search", "--name", "^" + title + "$")
        if window:
            return window.split()[0]
        time.sleep(0.1)
    return None


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS_PER_SECOND


def status_kb(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


class Player:
    """The player on its own X server, with a playlist of one file."""

    def __init__(self, build, work, display, wav):
        config = os.path.join(work, "config")
        os.makedirs(os.path.join(config, "VelofonPocket"), exist_ok=True)
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        with open(os.path.join(config, "VelofonPocket", "VelofonPocket.conf"), "w") as settings:
            settings.write("[VelofonSettings]\nSpeedIdx=10\nAlphaControl=50\nMixingVolume=50\n"
                           f"PlayListCount=1\nPlayFile00000={wav}\n")
        environment = {**os.environ, "DISPLAY": display, "SDL_AUDIODRIVER": "dummy",
                       "XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": runtime}
        self.display = display
        self.process = subprocess.Popen([os.path.join(build, "bin", "VelofonPocket")], env=environment)

    def play(self):
        window = wait_for_window(self.display, "STOP-Kuroto")
        if not window:
            raise RuntimeError("the player shows no window")
        xdotool(self.display, "mousemove", "--window", window, *map(str, PLAY_BUTTON), "click", "1")
        if not wait_for_window(self.display, "PLAY-Kuroto"):
            raise RuntimeError("Play did not start playback")

    def still_playing(self):
        return bool(xdotool(self.display, "search", "--name", "^PLAY-Kuroto$"))

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)


def measure_cpu(build, work, display, rate, channels, seconds):
    wav = os.path.join(work, f"cpu-{rate}.wav")
    write_speech_like_wav(wav, rate, channels, 2 * seconds + 20)  # 2.0x must not run out
    player = Player(build, work, display, wav)
    try:
        player.play()
        time.sleep(2)  # past the start
        cpu_before, wall_before = cpu_seconds(player.process.pid), time.monotonic()
        time.sleep(seconds)
        cpu_after, wall_after = cpu_seconds(player.process.pid), time.monotonic()
        if not player.still_playing():
            raise RuntimeError("playback ended before the measurement did")
        return 100 * (cpu_after - cpu_before) / (wall_after - wall_before)
    finally:
        player.close()


def player_memory_kb(build, work, display, wav):
    player = Player(build, work, display, wav)
    try:
        player.play()
        time.sleep(5)
        return status_kb(player.process.pid, "VmHWM")
    finally:
        player.close()


def render_memory_kb(build, wav):
    """The render's peak, read from /proc while it writes into our pipe: the
    rusage of a child forked from this interpreter would count the
    interpreter's own memory from before the exec."""
    process = subprocess.Popen([os.path.join(build, "bin", "velofon"), "render", "--alpha", "50", "-o", "-", wav],
                               stdout=subprocess.PIPE)
    peak = 0
    while process.stdout.read(1 << 20):
        try:
            peak = max(peak, status_kb(process.pid, "VmHWM"))
        except OSError:
            break  # gone already
    process.stdout.close()
    if process.wait() != 0:
        raise RuntimeError("velofon render failed on " + wav)
    return peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--seconds", type=int, default=60)
    options = parser.parse_args()
    build = os.path.abspath(options.build)

    goals_met = True
    with tempfile.TemporaryDirectory() as work:
        server = XServer()
        try:
            print(f"CPU of the player while it plays at 2.0x, Alpha 50 %, over {options.seconds} s:")
            for rate, channels in ((22050, 1), (44100, 2)):
                percent = measure_cpu(build, work, server.display, rate, channels, options.seconds)
                verdict = "ok" if percent < CPU_GOAL_PERCENT else "OVER THE GOAL"
                print(f"  {rate} Hz {'mono' if channels == 1 else 'stereo'}: {percent:.3f} % of one core ({verdict})")
                goals_met &= percent < CPU_GOAL_PERCENT

            print("Peak resident memory, one-minute file against one-hour file (22050 Hz mono):")
            minute = os.path.join(work, "minute.wav")
            hour = os.path.join(work, "hour.wav")
            write_speech_like_wav(minute, 22050, 1, 60)
            write_speech_like_wav(hour, 22050, 1, 3600)
            for name, measure in (("player", lambda wav: player_memory_kb(build, work, server.display, wav)),
                                  ("velofon render", lambda wav: render_memory_kb(build, wav))):
                short, long = measure(minute), measure(hour)
                flat = long - short <= MEMORY_GROWTH_LIMIT_KB
                print(f"  {name}: {short} KB / {long} KB ({'flat' if flat else 'GROWS WITH THE FILE'})")
                goals_met &= flat
        finally:
            server.close()
    return 0 if goals_met else 1


if __name__ == "__main__":
    sys.exit(main())
