#!/usr/bin/env python3
"""What the running player costs: CPU time per second of playback and memory.

1. CPU: the player plays a file at 2.0x with Alpha at its highest level
   (50 %) through SDL's dummy audio driver, which takes sound at the pace of
   a real device; the player's user+system time over a minute of playback is
   divided by the wall time. Once for a 22050 Hz mono WAV, once for a
   44100 Hz stereo WAV (goal: under 1 % of one core), once for a 44100 Hz
   stereo MP3 at 128 kbit/s, which the player decodes through FFmpeg as it
   plays (goal: under 2 % of one core).
2. Memory: the player's resident set while it plays a one-hour file and a
   one-minute file, and `velofon render`'s peak on the same two files; once
   for 22050 Hz mono WAVs, once for 44100 Hz stereo MP3s. Goal: flat in the
   file's length (the engine streams through fixed buffers).

The machine's other load adds to the CPU figures, so each is the lowest of
several runs (--runs, default 3), each with a player of its own. The memory
figures are one run each: they hardly vary.

Needs Xvfb and xdotool (scripts/install-deps installs both), GNU time (the
Debian package time) for the render's peak, and ffmpeg with
libmp3lame to make the MP3s (without it the MP3 cases are skipped). The player runs
on an X server of its own with settings of its own, so a running player and
the user's settings are not touched. Exits 1 when a goal is missed.

Usage: bench/player-load.py [--build build] [--seconds 60] [--runs 3]
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
CPU_GOAL_PERCENT_MP3 = 2.0
CPU_GOAL_PERCENT_CLEAR = 2.0
# One hour may cost no more than this over one minute: FFmpeg's seek index
# of an MP3 grows with the file up to its cap of 1 MB (max_index_size), and
# whether the allocator finds room for it in memory freed before differs
# from build to build.
MEMORY_GROWTH_LIMIT_KB = 2048
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


def can_make_mp3():
    try:
        encoders = subprocess.run(["ffmpeg", "-hide_banner", "-encoders"], capture_output=True, text=True).stdout
    except OSError:
        return False
    return "libmp3lame" in encoders


def write_speech_like_mp3(path, rate, channels, seconds, work):
    """The same signal as write_speech_like_wav, encoded as a 128 kbit/s MP3."""
    wav = os.path.join(work, "to-encode.wav")
    write_speech_like_wav(wav, rate, channels, seconds)
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", wav, "-c:a", "libmp3lame", "-b:a", "128k", path],
                   check=True)
    os.remove(wav)


def repeat_mp3(source, path, times):
    """The MP3's frames `times` times over, copied as they are (no new encode)."""
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-stream_loop", str(times - 1), "-i", source,
                    "-c", "copy", path], check=True)


class XServer:
    def __init__(self, work):
        read_end, write_end = os.pipe()
        self.log = os.path.join(work, "xvfb.log")
        with open(self.log, "w") as log:
            # -noreset: the server would otherwise reset whenever its last
            # client left, and refuse the next player while it does.
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=log)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            self.display = ":" + reader.readline().strip()
        # The number comes a moment before the server takes clients.
        deadline = time.monotonic() + 10
        while not xdotool(self.display, "getdisplaygeometry") and time.monotonic() < deadline:
            time.sleep(0.05)

    def state(self):
        """For an error message: whether the server still runs, and the end of what it said."""
        code = self.process.poll()
        with open(self.log) as log:
            said = log.read().strip().splitlines()[-5:]
        return (f"Xvfb on {self.display} {'runs' if code is None else f'ended with {code}'}"
                + (": " + " / ".join(said) if said else ""))

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

    def __init__(self, build, work, server, wav, clear=False, audio=None):
        config = os.path.join(work, "config")
        os.makedirs(os.path.join(config, "VelofonPocket"), exist_ok=True)
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        # Each run plays from the start: no place remembered by the one before.
        folder = os.path.join(config, "VelofonPocket")
        for name in os.listdir(folder):
            if name.startswith("VelofonPocket.positions"):
                os.remove(os.path.join(folder, name))
        with open(os.path.join(config, "VelofonPocket", "VelofonPocket.conf"), "w") as settings:
            settings.write("[VelofonSettings]\nSpeedIdx=10\nAlphaControl=50\nMixingVolume=50\n"
                           f"ClearSpeech={int(clear)}\nPlayListCount=1\nPlayFile00000={wav}\n")
        environment = {**os.environ, "DISPLAY": server.display, "SDL_AUDIODRIVER": "dummy",
                       "XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": runtime, **(audio or {})}
        self.server = server
        self.display = server.display
        self.process = subprocess.Popen([os.path.join(build, "bin", "VelofonPocket")], env=environment)

    def play(self, on_click=None):
        window = wait_for_window(self.display, "STOP-Kuroto")
        if not window:
            code = self.process.poll()
            raise RuntimeError("the player shows no window ("
                               + ("it still runs" if code is None else f"it ended with {code}")
                               + "; " + self.server.state() + ")")
        xdotool(self.display, "mousemove", "--window", window, *map(str, PLAY_BUTTON))
        if on_click:
            on_click()
        xdotool(self.display, "click", "1")
        if not wait_for_window(self.display, "PLAY-Kuroto"):
            raise RuntimeError("Play did not start playback (" + self.server.state() + ")")

    def still_playing(self):
        return bool(xdotool(self.display, "search", "--name", "^PLAY-Kuroto$"))

    def close(self):
        if self.process.poll() is not None:
            return
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)


def measure_cpu(build, work, server, rate, channels, seconds, runs, mp3=False, clear=False):
    """The lowest of `runs` runs, each a player of its own over `seconds` of playback."""
    length = 2 * seconds + 20  # 2.0x must not run out
    if mp3:
        path = os.path.join(work, f"cpu-{rate}.mp3")
        write_speech_like_mp3(path, rate, channels, length, work)
    else:
        path = os.path.join(work, f"cpu-{rate}.wav")
        write_speech_like_wav(path, rate, channels, length)
    return min(cpu_of_one_run(build, work, server, path, seconds, clear) for _ in range(runs))


def cpu_of_one_run(build, work, server, path, seconds, clear):
    player = Player(build, work, server, path, clear)
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


def player_memory_kb(build, work, server, wav):
    player = Player(build, work, server, wav)
    try:
        player.play()
        time.sleep(5)
        return status_kb(player.process.pid, "VmHWM")
    finally:
        player.close()


def render_memory_kb(build, work, path):
    """The render's peak over its whole life, from /usr/bin/time (whose own
    small child runs the render: the rusage of a child forked from this
    interpreter would count the interpreter's memory from before the exec).
    Reading VmHWM from /proc while the render runs misses what it takes in
    its last moments, after its last write: up to a megabyte for an MP3."""
    report = os.path.join(work, "render-peak")
    process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report,
                                os.path.join(build, "bin", "velofon"), "render", "--alpha", "50", "-o", "-", path],
                               stdout=subprocess.PIPE)
    while process.stdout.read(1 << 20):
        pass
    process.stdout.close()
    if process.wait() != 0:
        raise RuntimeError("velofon render failed on " + path)
    with open(report) as lines:
        return int(lines.read().split()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    if not os.access("/usr/bin/time", os.X_OK):
        print("player-load: needs /usr/bin/time (the Debian package time)", file=sys.stderr)
        return 2

    goals_met = True
    with tempfile.TemporaryDirectory() as work:
        server = XServer(work)
        try:
            mp3 = can_make_mp3()
            if not mp3:
                print("(no ffmpeg with libmp3lame: the MP3 cases are skipped)")
            print(f"CPU of the player while it plays at 2.0x, Alpha 50 %, over {options.seconds} s, "
                  f"lowest of {options.runs} runs:")
            cases = [(22050, 1, False, False, CPU_GOAL_PERCENT), (44100, 2, False, False, CPU_GOAL_PERCENT)]
            if mp3:
                cases.append((44100, 2, True, False, CPU_GOAL_PERCENT_MP3))
            cases.append((44100, 2, False, True, CPU_GOAL_PERCENT_CLEAR))
            for rate, channels, is_mp3, clear, goal in cases:
                percent = measure_cpu(build, work, server, rate, channels, options.seconds, options.runs,
                                      is_mp3, clear)
                verdict = f"ok, goal under {goal:g} %" if percent < goal else f"OVER THE GOAL of {goal:g} %"
                kind = ("MP3 128 kbit/s" if is_mp3 else "WAV") + (", clear mode" if clear else "")
                print(f"  {rate} Hz {'mono' if channels == 1 else 'stereo'} {kind}: "
                      f"{percent:.3f} % of one core ({verdict})")
                goals_met &= percent < goal

            files = []
            minute = os.path.join(work, "minute.wav")
            hour = os.path.join(work, "hour.wav")
            write_speech_like_wav(minute, 22050, 1, 60)
            write_speech_like_wav(hour, 22050, 1, 3600)
            files.append(("22050 Hz mono WAV", minute, hour))
            if mp3:
                minute_mp3 = os.path.join(work, "minute.mp3")
                hour_mp3 = os.path.join(work, "hour.mp3")
                write_speech_like_mp3(minute_mp3, 44100, 2, 60, work)
                repeat_mp3(minute_mp3, hour_mp3, 60)
                files.append(("44100 Hz stereo MP3", minute_mp3, hour_mp3))
            for kind, minute, hour in files:
                print(f"Peak resident memory, one-minute file against one-hour file ({kind}):")
                for name, measure in (("player", lambda path: player_memory_kb(build, work, server, path)),
                                      ("velofon render", lambda path: render_memory_kb(build, work, path))):
                    short, long = measure(minute), measure(hour)
                    flat = long - short <= MEMORY_GROWTH_LIMIT_KB
                    print(f"  {name}: {short} KB / {long} KB ({'flat' if flat else 'GROWS WITH THE FILE'})")
                    goals_met &= flat
        finally:
            server.close()
    return 0 if goals_met else 1


if __name__ == "__main__":
    sys.exit(main())
