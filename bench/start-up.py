#!/usr/bin/env python3
"""How lightly the programs start, against their budgets.

1. `velofon --version` maps no FFmpeg library and stays under 12 MB resident;
   a WAV render maps none either (glibc's loader names every library it maps
   under LD_DEBUG=files).
2. The player's window: from exec to the painted window with its title, the
   median of interleaved runs against `xmessage` on the same X server
   (bench/WindowTime.cpp measures both), as an ordinary user: started as
   root, both run as nobody, and the times as root are printed beside.
   Goal: at most 1.5 times xmessage's.
3. Sound at once: from the click on Play to the first sound in the file that
   SDL's disk driver writes, for a WAV that sounds from its first frame.
   Goal: at most 50 ms (median).
4. The player's resident memory while it plays a WAV. Goal: under 25 MB.

Needs a build with -DVELOFON_BUILD_BENCH=ON (for window_time), Xvfb, xdotool,
xmessage (x11-utils), GNU time and, as root, setpriv. Exits 1 when a goal is missed.

Usage: bench/start-up.py [--build build] [--runs 11]
"""
import argparse
import importlib.util
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("player_load", os.path.join(HERE, "player-load.py"))
player_load = importlib.util.module_from_spec(spec)
spec.loader.exec_module(player_load)

VERSION_MEMORY_GOAL_KB = 12 * 1024
WINDOW_RATIO_GOAL = 1.5
CLICK_TO_SOUND_GOAL_MS = 50
PLAYER_MEMORY_GOAL_KB = 25 * 1024


def maps_ffmpeg(command):
    """Whether the command maps one of FFmpeg's libraries, and its peak memory."""
    with tempfile.NamedTemporaryFile("r") as report:
        result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *command],
                                env={**os.environ, "LD_DEBUG": "files"}, capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(" ".join(command) + " failed: " + result.stderr[-500:])
        return "file=libavcodec" in result.stderr, int(report.read().split()[-1])


# Desktops run as an ordinary user; libX11 keeps its compiled compose table
# only for one (as root the player parses the whole table at every start).
AS_ORDINARY_USER = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def window_times(build, work, server, wav, runs, as_user=None):
    """Milliseconds to the painted window: (xmessage's, the player's), interleaved,
    both run by as_user (a command prefix) when given."""
    home = os.path.join(work, "window-home" if as_user is None else "window-home-user")
    config = os.path.join(home, "config")
    os.makedirs(os.path.join(config, "VelofonPocket"), exist_ok=True)
    with open(os.path.join(config, "VelofonPocket", "VelofonPocket.conf"), "w") as settings:
        settings.write(f"[VelofonSettings]\nPlayListCount=1\nPlayFile00000={wav}\n")
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    if as_user is not None:
        os.chmod(work, 0o755)
        subprocess.run(["chown", "-R", "nobody:nogroup", home], check=True)
    environment = {**os.environ, "DISPLAY": server.display, "SDL_AUDIODRIVER": "dummy", "HOME": home,
                   "XDG_CONFIG_HOME": config, "XDG_CACHE_HOME": os.path.join(home, "cache"),
                   "XDG_RUNTIME_DIR": runtime}
    timer = [*(as_user or []), os.path.join(build, "bin", "window_time")]
    commands = {"xmessage": ["xmessage", "xmessage", "VelofonPocket"],
                "player": ["STOP-Kuroto", os.path.join(build, "bin", "VelofonPocket")]}
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            result = subprocess.run([*timer, *command], env=environment, capture_output=True, text=True)
            if result.returncode != 0:
                raise RuntimeError(f"window_time {name}: {result.stderr.strip()}")
            times[name].append(float(result.stdout))
    return statistics.median(times["xmessage"]), statistics.median(times["player"])


def click_to_sound_ms(build, work, server, wav):
    device = os.path.join(work, "device.raw")
    if os.path.exists(device):
        os.remove(device)
    clicked = {}
    heard = {}

    def watch():
        # The disk driver writes whole periods; the first byte not zero is sound.
        while time.monotonic() - clicked["at"] < 5:
            try:
                with open(device, "rb") as frames:
                    if any(frames.read()):
                        heard["at"] = time.monotonic()
                        return
            except FileNotFoundError:
                pass
            time.sleep(0.0005)

    watcher = threading.Thread(target=watch)

    def on_click():
        clicked["at"] = time.monotonic()
        watcher.start()

    player = player_load.Player(build, work, server, wav,
                                audio={"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": device})
    try:
        player.play(on_click)
        watcher.join()
    finally:
        player.close()
    if "at" not in heard:
        raise RuntimeError("no sound reached the disk driver's file")
    return 1000 * (heard["at"] - clicked["at"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--runs", type=int, default=11)
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    velofon = os.path.join(build, "bin", "velofon")
    goals_met = True

    def report(what, value, goal, met):
        nonlocal goals_met
        goals_met &= met
        print(f"{what}: {value} ({'ok' if met else 'MISSED'}, goal {goal})")

    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "speech.wav")
        player_load.write_speech_like_wav(wav, 22050, 1, 60)

        mapped, memory = maps_ffmpeg([velofon, "--version"])
        report("velofon --version maps FFmpeg", "yes" if mapped else "no", "no", not mapped)
        report("velofon --version resident", f"{memory / 1024:.1f} MB", "under 12 MB", memory < VERSION_MEMORY_GOAL_KB)
        mapped, _ = maps_ffmpeg([velofon, "render", "-o", os.path.join(work, "out.wav"), wav])
        report("velofon render of a WAV maps FFmpeg", "yes" if mapped else "no", "no", not mapped)

        server = player_load.XServer(work)
        try:
            if os.geteuid() == 0:
                xmessage, player = window_times(build, work, server, wav, options.runs)
                print(f"window as root: player {player:.0f} ms, xmessage {xmessage:.0f} ms "
                      f"(medians of {options.runs}): {player / xmessage:.2f} times (no goal: no compose cache)")
            as_user = AS_ORDINARY_USER if os.geteuid() == 0 else None
            xmessage, player = window_times(build, work, server, wav, options.runs, as_user)
            report(f"window: player {player:.0f} ms, xmessage {xmessage:.0f} ms (medians of {options.runs})",
                   f"{player / xmessage:.2f} times", f"at most {WINDOW_RATIO_GOAL}",
                   player <= WINDOW_RATIO_GOAL * xmessage)
            delays = [click_to_sound_ms(build, work, server, wav) for _ in range(max(3, options.runs // 2))]
            delay = statistics.median(delays)
            report(f"click on Play to sound (median of {len(delays)})", f"{delay:.0f} ms",
                   f"at most {CLICK_TO_SOUND_GOAL_MS} ms", delay <= CLICK_TO_SOUND_GOAL_MS)
            memory = player_load.player_memory_kb(build, work, server, wav)
            report("player resident while playing a WAV", f"{memory / 1024:.1f} MB", "under 25 MB",
                   memory < PLAYER_MEMORY_GOAL_KB)
        finally:
            server.close()
    return 0 if goals_met else 1


if __name__ == "__main__":
    sys.exit(main())
