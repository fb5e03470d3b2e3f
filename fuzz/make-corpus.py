#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/wave,
fuzz/corpus/decoder and fuzz/corpus/settings. The output is committed; run
this again after changing it and commit the result. Files it does not make
(inputs a fuzzer found) are left alone, so a seed renamed or dropped here has
to be deleted by hand. The decoder seeds are encoded by the ffmpeg program,
which only this script needs.

A wave seed is the control bytes of WaveEngineFuzz.cpp followed by the file:
speed at Open, speed afterwards, Mixing, Alpha (bit 0 on, level), Alpha after
the seek, seek position (4 bytes, little-endian). A decoder seed is the
control bytes of DecoderEngineFuzz.cpp followed by the file: speed at Open,
speed at the reopen, name ending, flags (bit 0 Alpha, bits 1-2 how the reopen
goes on, bits 3-7 Mixing), seek position (4 bytes, little-endian). A settings
seed is the settings file as it is.
"""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# Speeds the engine is given besides the player's steps 0 to 30; the index
# into this list is the control byte minus 248.
ODD_SPEEDS = [0.5, 4.5, 12.0, 0.0, -1.0, 12.1, "nan", "inf"]
# Mixing and Alpha levels beyond the player's, as in WaveEngineFuzz.cpp.
ODD_MIXING = [-1, -20, 21, 100, 16383, 16384, 2**31 // 5, -(2**31) // 5, 2**31 - 1, -(2**31)]
ODD_ALPHA = [-1, -50, 51, 100, 1000, 32767, 65536, 2**31 - 1, -(2**31)]


def speed_byte(speed):
    """A step 0..30 of the player, or one of ODD_SPEEDS."""
    if isinstance(speed, int):
        return speed
    return 256 - len(ODD_SPEEDS) + ODD_SPEEDS.index(speed)


def mixing_byte(gain):
    if gain in ODD_MIXING:
        return 256 - len(ODD_MIXING) + ODD_MIXING.index(gain)
    return gain


def alpha_level_byte(level):
    if level in ODD_ALPHA:
        return 256 - len(ODD_ALPHA) + ODD_ALPHA.index(level)
    return level


def alpha_byte(on, level):
    """Bit 0 switches the tones on; the byte modulo 51 is the level. An odd
    level has a byte of its own, whose bit 0 decides."""
    if level in ODD_ALPHA:
        return alpha_level_byte(level)
    return level if (level & 1) == on else level + 51


def controls(speed=10, next_speed=None, mixing=10, alpha=(False, 0), alpha_after=None, seek=0):
    next_speed = speed if next_speed is None else next_speed
    on, level = alpha
    a = alpha_byte(int(on), level)
    after = alpha_level_byte(level if alpha_after is None else alpha_after)
    return bytes([speed_byte(speed), speed_byte(next_speed), mixing_byte(mixing), a, after]) + struct.pack("<I", seek)


class Random:
    """A small deterministic generator, so that the corpus never changes by itself."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state


def speech(frames, rate, seed):
    """Speech-like floats in -1..1: voiced syllables with a moving pitch, and noise."""
    rnd = Random(seed)
    out = []
    phase = 0.0
    for i in range(frames):
        t = i / rate
        syllable = max(0.0, math.sin(2 * math.pi * 3.7 * t)) ** 2
        pitch = 120 + 40 * math.sin(2 * math.pi * 0.9 * t)
        phase += 2 * math.pi * pitch / rate
        voiced = sum(math.sin(k * phase) / k for k in (1, 2, 3, 5))
        noise = (rnd.next() / 0x3FFFFFFF - 1.0) * 0.15
        out.append(max(-1.0, min(1.0, 0.45 * syllable * voiced + noise)))
    return out


def samples(channels, bits, frames, rate, seed):
    left = speech(frames, rate, seed)
    right = speech(frames, rate, seed + 1)
    out = bytearray()
    for i in range(frames):
        for value in (left[i], right[i])[:channels]:
            if bits == 8:
                out.append(int(128 + value * 127))
            else:
                out += struct.pack("<h", int(value * 32767))
    return bytes(out)


def chunk(tag, payload, pad=True):
    data = tag + struct.pack("<I", len(payload)) + payload
    return data + (b"\0" if pad and len(payload) % 2 else b"")


def fmt_payload(channels, rate, bits, tag=1, extra=b""):
    align = channels * bits // 8
    return struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra


def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def wav(channels, bits, rate, data):
    return riff(chunk(b"fmt ", fmt_payload(channels, rate, bits)), chunk(b"data", data))


def wave_corpus():
    seeds = {}

    # Every layout, and sample rates from the lowest accepted to the highest
    # each speed takes (4 tracks of 44100 samples, segments of 22050 at most).
    layouts = [
        # name, channels, bits, rate, frames, controls
        ("mono8-155hz-1x", 1, 8, 155, 400, controls(0, 10, 10)),
        ("mono8-8000hz-2x", 1, 8, 8000, 16000, controls(10, 11, 10, (True, 5), seek=4000)),
        ("mono16-8000hz-4x", 1, 16, 8000, 4000, controls(30, 29, 20, (True, 50))),
        ("stereo8-11025hz-1.5x", 2, 8, 11025, 4400, controls(5, 6, 12, (False, 10), seek=2000)),
        ("stereo16-22050hz-2x", 2, 16, 22050, 2400, controls(10, 20, 10, (True, 25), 40, seek=5000)),
        ("mono16-44100hz-3x", 1, 16, 44100, 4400, controls(20, 21, 8, (True, 1))),
        ("stereo16-48000hz-2.5x", 2, 16, 48000, 2400, controls(15, 3, 14, (False, 0))),
        ("mono16-88200hz-1x", 1, 16, 88200, 4410, controls(0, 1, 10, (True, 50))),
        ("mono8-96000hz-1.5x", 1, 8, 96000, 9600, controls(5, 0, 10)),
        ("mono8-192000hz-3.5x", 1, 8, 192000, 9600, controls(25, 24, 10, (True, 7))),
        ("mono8-485143hz-4x", 1, 8, 485143, 9700, controls(30, 29, 10, (True, 3), seek=900)),
        ("mono8-485144hz-4x", 1, 8, 485144, 600, controls(30, 30, 10)),
        ("mono16-16000hz-0.5x", 1, 16, 16000, 3000, controls(0.5, 10, 10, (True, 5))),
        ("mono8-22050hz-4.5x", 1, 8, 22050, 8800, controls(4.5, 4.5, 10)),
        ("mono8-882000hz-12x", 1, 8, 882000, 8820, controls(12.0, 30, 10)),
        ("mono8-155hz-12x", 1, 8, 155, 300, controls(12.0, 0, 10)),
        ("stereo8-8000hz-nan", 2, 8, 8000, 800, controls("nan", 10, 10)),
        ("mono8-8000hz-zero-then-1x", 1, 8, 8000, 800, controls(0.0, 0, 10)),
        ("mono8-8000hz-minus1-inf", 1, 8, 8000, 800, controls(-1.0, "inf", 10)),
        ("mono8-8000hz-12.1", 1, 8, 8000, 800, controls(12.1, 12.0, 10)),
        ("mono16-8000hz-loud-mixing", 1, 16, 8000, 2000, controls(10, 10, 16383, (True, 32767), -(2**31))),
        ("mono16-8000hz-negative-levels", 1, 16, 8000, 2000, controls(10, 12, -(2**31), (True, -1), 2**31 - 1)),
        ("stereo16-8000hz-mixing-max", 2, 16, 8000, 1500, controls(10, 11, 2**31 - 1, (False, 65536), 1000)),
    ]
    for i, (name, channels, bits, rate, frames, ctl) in enumerate(layouts):
        seeds["valid-" + name] = ctl + wav(channels, bits, rate, samples(channels, bits, frames, rate, 100 + i))

    # Chunks around the data, odd sizes, other format chunk sizes.
    data16 = samples(1, 16, 600, 8000, 7)
    data8 = samples(1, 8, 601, 8000, 8)
    fmt16 = chunk(b"fmt ", fmt_payload(1, 8000, 16))
    fmt8 = chunk(b"fmt ", fmt_payload(1, 8000, 8))
    info = chunk(b"LIST", b"INFOINAM" + struct.pack("<I", 11) + b"a lecture\0\0")
    odd = chunk(b"LIST", b"INFOICMT" + struct.pack("<I", 7) + b"seven\0\0")
    ctl = controls(10, 12, 10, (True, 5), seek=300)
    seeds["chunks-list-before-data"] = ctl + riff(fmt16, info, chunk(b"data", data16))
    seeds["chunks-odd-list-before-data"] = ctl + riff(fmt16, odd, chunk(b"data", data16))
    seeds["chunks-after-data"] = ctl + riff(fmt16, chunk(b"data", data16), info, chunk(b"id3 ", b"ID3\3" + b"\0" * 13))
    seeds["chunks-fact-and-odd-data"] = ctl + riff(fmt8, chunk(b"fact", struct.pack("<I", 601)), chunk(b"data", data8), info)
    seeds["chunks-odd-data-16bit"] = ctl + riff(fmt16, chunk(b"data", data16 + b"\x7f"))
    seeds["chunks-fmt-18"] = ctl + riff(chunk(b"fmt ", fmt_payload(1, 8000, 16, extra=b"\0\0")), chunk(b"data", data16))
    ext = fmt_payload(2, 8000, 16, tag=0xFFFE, extra=struct.pack("<HHI", 22, 16, 3) + b"\x01\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71")
    seeds["chunks-fmt-extensible"] = ctl + riff(chunk(b"fmt ", ext), chunk(b"data", samples(2, 16, 300, 8000, 9)))
    seeds["chunks-data-tag-in-list"] = ctl + riff(fmt16, chunk(b"LIST", b"INFOdata" + struct.pack("<I", 4) + b"abcd"), chunk(b"data", data16))
    seeds["chunks-data-before-fmt"] = ctl + riff(chunk(b"data", data16), fmt16)
    seeds["chunks-rf64"] = ctl + b"RF64" + riff(fmt16, chunk(b"data", data16))[4:]
    # The tag must lie in the first 4096 bytes with its size field.
    for end, name in ((4096, "data-size-ends-at-4096"), (4097, "data-size-ends-at-4097"), (5000, "data-tag-beyond-4096")):
        filler = end - 8 - 12 - len(fmt16) - 8
        body = riff(fmt16, chunk(b"JUNK", b"\0" * filler), chunk(b"data", data16[:400]))
        seeds["chunks-" + name] = controls(0, 10, 10) + body

    # Each field of the canonical 44-byte header changed on its own.
    base = wav(2, 16, 8000, samples(2, 16, 256, 8000, 11))
    size = len(base) - 44

    def mutated(at, value, fmt):
        b = bytearray(base)
        if isinstance(value, bytes):
            b[at:at + len(value)] = value
        else:
            struct.pack_into(fmt, b, at, value & (0xFFFF if fmt == "<H" else 0xFFFFFFFF))
        return bytes(b)

    fields = [
        ("riff-size", 4, "<I", [0, 0xFFFFFFFF, len(base) - 8 + 1, len(base) - 8 - 1]),
        ("wave-id", 8, None, [b"WAVX", b"\0\0\0\0"]),
        ("fmt-id", 12, None, [b"FMT ", b"\0\0\0\0"]),
        ("fmt-size", 16, "<I", [0, 0xFFFFFFFF, 15, 17, 18]),
        ("format-tag", 20, "<H", [0, 2, 3, 0xFFFE, 0xFFFF]),
        ("channels", 22, "<H", [0, 1, 3, 0xFFFF]),
        ("rate", 24, "<I", [0, 1, 154, 155, 7999, 8001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF]),
        ("byte-rate", 28, "<I", [0, 0xFFFFFFFF, 32001]),
        ("block-align", 32, "<H", [0, 1, 2, 3, 5, 0xFFFF]),
        ("bits", 34, "<H", [0, 8, 15, 17, 24, 0xFFFF]),
        ("data-id", 36, None, [b"DATA", b"dat\0", b"atad"]),
        ("data-size", 40, "<I", [0, 1, 2, 3, size - 1, size + 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0,
                                 0xFFFFFFFF - 44, 0xFFFFFFFF - 43, 0xFFFFFFFF]),
    ]
    n = 0
    for name, at, fmt, values in fields:
        for value in values:
            label = value.decode("latin-1").replace("\0", "0").strip() if isinstance(value, bytes) else "%x" % value
            speed = (n * 7) % 31
            seek = [0, 100, 600, 0xFFFFFFFF, 44, 0xF0000000][n % 6]
            ctl = controls(speed, (speed + 13) % 31, n % 21, (bool(n & 1), (n * 3) % 51), seek=seek)
            seeds["field-%s-%s" % (name, label)] = ctl + mutated(at, value, fmt)
            n += 1

    # Cut short anywhere in the header and inside the data.
    for length in (0, 1, 4, 8, 12, 22, 35, 36, 37, 40, 43, 44, 45, 46, 47, 300):
        seeds["truncated-%d" % length] = controls(length % 31, 10, 10, (True, 5)) + base[:length]
    # Shorter than the control bytes, and the control bytes alone.
    seeds["truncated-controls"] = bytes([10, 10, 10])
    seeds["controls-only"] = controls()
    return seeds


# The name endings of DecoderEngineFuzz.cpp, in its order.
DECODER_ENDINGS = ["", ".wav", ".WAV", ".mp3", ".m4a", ".ogg", ".opus", ".flac", ".wv", ".aiff", ".au", ".caf",
                   ".mka", ".webm", ".ac3", ".amr", ".mp2", ".wma", ".aac", ".m3u8", ".ffconcat", ".txt"]
# Speeds beyond the player's steps, as DecoderEngineFuzz.cpp maps its last bytes.
DECODER_ODD_SPEEDS = [0.5, 12.0, 0.0, "nan"]
# How playing goes on after the reopen.
WHERE_STOPPED, SEEK_POSITION, SEEK_TO_START, FROM_START = range(4)


def decoder_controls(ending, speed=10, next_speed=None, reopen=WHERE_STOPPED, alpha=False, mixing=10, seek=0):
    next_speed = speed if next_speed is None else next_speed

    def speed_byte(value):
        if isinstance(value, int):
            return value
        return 256 - len(DECODER_ODD_SPEEDS) + DECODER_ODD_SPEEDS.index(value)

    flags = int(alpha) | reopen << 1 | mixing << 3
    return bytes([speed_byte(speed), speed_byte(next_speed), DECODER_ENDINGS.index(ending), flags]) + struct.pack("<I", seek)


def encode(work, args, source=None, ending=".wav"):
    """What the ffmpeg program writes for args, from source (WAV bytes) as
    input; bit-exact, so that the same program always writes the same bytes."""
    src = os.path.join(work, "source.wav")
    out = os.path.join(work, "out" + ending)
    if source is not None:
        with open(src, "wb") as f:
            f.write(source)
    command = ["ffmpeg", "-nostdin", "-v", "error", "-y"]
    command += ["-i", src] if source is not None else []
    command += args + ["-fflags", "+bitexact", "-flags:a", "+bitexact", "-map_metadata", "-1", out]
    subprocess.run(command, check=True)
    with open(out, "rb") as f:
        return f.read()


def flac_without_padding(data):
    """The muxer reserves 8 KB of padding for tags; a seed needs none."""
    blocks = []
    at = 4
    while True:
        kind, size = data[at], int.from_bytes(data[at + 1:at + 4], "big")
        if kind & 0x7F != 1:
            blocks.append(bytearray(data[at:at + 4 + size]))
        at += 4 + size
        if kind & 0x80:
            break
    for block in blocks:
        block[0] &= 0x7F
    blocks[-1][0] |= 0x80
    return data[:4] + b"".join(bytes(b) for b in blocks) + data[at:]


def amr(wideband, seed):
    """AMR has no encoder in the ffmpeg program: frames of every speech mode
    with arbitrary bits, which the decoder takes as speech parameters. A
    wideband file ends in a comfort-noise frame, which FFmpeg cannot decode:
    the decoder then stops part-way."""
    sizes = [17, 23, 32, 36, 40, 46, 50, 58, 60] if wideband else [12, 13, 15, 17, 19, 20, 26, 31]
    rnd = Random(seed)
    out = bytearray(b"#!AMR-WB\n" if wideband else b"#!AMR\n")
    for i in range(16):
        mode = i % len(sizes)
        out.append(mode << 3 | 0x04)
        out += bytes(rnd.next() & 0xFF for _ in range(sizes[mode]))
    if wideband:
        out += bytes([9 << 3 | 0x04]) + bytes(rnd.next() & 0xFF for _ in range(5))
    return bytes(out)


def decoder_corpus():
    if not shutil.which("ffmpeg"):
        sys.exit("make-corpus.py: the decoder seeds are encoded by the ffmpeg program, which is not on PATH")
    mono8k = wav(1, 16, 8000, samples(1, 16, 2000, 8000, 21))
    short8k = wav(1, 16, 8000, samples(1, 16, 800, 8000, 22))
    stereo16k = wav(2, 16, 16000, samples(2, 16, 3200, 16000, 23))
    stereo32k = wav(2, 16, 32000, samples(2, 16, 3200, 32000, 24))
    files = {}
    with tempfile.TemporaryDirectory() as work:
        def make(name, ending, args, source=mono8k, out_ending=None):
            files[name] = (ending, encode(work, args, source, out_ending or ending))

        # One of each format the player meets, a fraction of a second of
        # speech at a low rate.
        make("mp3", ".mp3", ["-c:a", "libmp3lame", "-b:a", "8k"])
        make("aac-in-m4a", ".m4a", ["-c:a", "aac", "-b:a", "12k"])
        make("opus-in-ogg", ".opus", ["-c:a", "libopus", "-b:a", "6k"])
        make("vorbis-in-ogg", ".ogg", ["-c:a", "libvorbis", "-q:a", "-1"], short8k)
        make("flac", ".flac", ["-c:a", "flac"], short8k)
        files["flac"] = (".flac", flac_without_padding(files["flac"][1]))
        make("wavpack", ".wv", ["-c:a", "wavpack"], short8k)
        make("alaw-wav", ".wav", ["-c:a", "pcm_alaw"])
        make("mulaw-wav", ".WAV", ["-c:a", "pcm_mulaw"], out_ending=".wav")
        make("s24-wav", ".wav", ["-c:a", "pcm_s24le"], short8k)
        make("float-wav", ".wav", ["-c:a", "pcm_f32le"], short8k)
        make("six-channel-wav", ".wav",
             ["-t", "0.025", "-af", "pan=5.1|FL=c0|FR=0.5*c0|FC=0.3*c0|LFE=0.2*c0|BL=0.7*c0|BR=0.1*c0"])
        make("96khz-wav", ".wav", ["-t", "0.015", "-ar", "96000"])
        make("aiff", ".aiff", ["-t", "0.1"])
        make("au", ".au", ["-t", "0.1"])
        make("alac-in-caf", ".caf", ["-c:a", "alac"], short8k)
        make("aac-in-mka", ".mka", ["-c:a", "aac", "-b:a", "12k"])
        make("opus-in-webm", ".webm", ["-c:a", "libopus", "-b:a", "6k"])
        make("ac3-stereo", ".ac3", ["-c:a", "ac3", "-b:a", "64k"], stereo32k)
        files["amr-nb"] = (".amr", amr(False, 31))
        files["amr-wb"] = (".amr", amr(True, 32))
        make("mp2-stereo", ".mp2", ["-c:a", "mp2", "-b:a", "32k"], stereo16k)
        make("wma", ".wma", ["-c:a", "wmav2", "-b:a", "24k", "-packet_size", "512"], short8k)

        # What the glue meets besides: raw AAC, a name that lies, a rate or
        # channel count that changes part-way, PCM the player would read
        # itself, rates no road plays, no audio at all.
        make("aac-adts", ".aac", ["-c:a", "aac", "-b:a", "12k"])
        files["mp3-named-wav"] = (".wav", files["mp3"][1])
        second = encode(work, ["-c:a", "libmp3lame", "-b:a", "16k", "-write_xing", "0", "-id3v2_version", "0"],
                        stereo16k, ".mp3")
        files["mp3-8khz-mono-then-16khz-stereo"] = ("", files["mp3"][1] + second)
        second = encode(work, ["-c:a", "libopus", "-b:a", "8k", "-serial_offset", "7"], stereo16k, ".opus")
        files["opus-chained-mono-then-stereo"] = (".ogg", files["opus-in-ogg"][1] + second)
        files["pcm16-without-name"] = ("", short8k)
        files["pcm8-100hz"] = ("", wav(1, 8, 100, samples(1, 8, 50, 100, 25)))
        fmt = chunk(b"fmt ", fmt_payload(1, 8000, 16))
        files["wav-data-beyond-4096"] = (".wav", riff(fmt, chunk(b"JUNK", b"\0" * 4100),
                                                      chunk(b"data", samples(1, 16, 200, 8000, 26))))
        with open(os.path.join(work, "sub.srt"), "w") as f:
            f.write("1\n00:00:00,000 --> 00:00:01,000\nhello\n")
        files["subtitles-only-mka"] = (".mka", encode(work, ["-i", os.path.join(work, "sub.srt"), "-map", "0", "-c:s", "copy"],
                                                               None, ".mka"))
        files["truncated-mp3"] = (".mp3", files["mp3"][1][:len(files["mp3"][1]) // 2])
        files["empty"] = ("", b"")

    # What asks FFmpeg to open something else: each entry is the bait file
    # beside the input, which the target watches.
    files["hls-playlist"] = (".m3u8", b"#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\nbait.wav\n#EXT-X-ENDLIST\n")
    files["concat-script"] = (".ffconcat", b"ffconcat version 1.0\nfile 'bait.wav'\nfile bait.wav\n")
    files["sdp-session"] = (".txt", b"v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=x\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                                    b"m=audio 5004 RTP/AVP 0\r\n")

    # The controls vary over the seeds: every way the reopen goes on, with and
    # without the tones; the reopens from the start keep the speed, so that
    # the target compares the two plays.
    seeds = {}
    speeds = [10, 0, 30, 5, 20, 15, 25, 12]
    seeks = [1000, 0, 0xF0000000, 5000, 0xFFFFFFFF, 123457, 64, 7]
    for i, (name, (ending, data)) in enumerate(files.items()):
        reopen = i % 4
        speed = speeds[i % len(speeds)]
        next_speed = speed if reopen in (SEEK_TO_START, FROM_START) else (speed + 7) % 31
        ctl = decoder_controls(ending, speed, next_speed, reopen, alpha=i % 5 == 1, mixing=(i * 3) % 21,
                               seek=seeks[i % len(seeks)])
        seeds[name] = ctl + data
    # Speeds the player never sends; one the engine refuses after the decoder
    # has opened the file, which the reopen takes back.
    seeds["mp3-speed-0.5"] = decoder_controls(".mp3", 0.5, 0.5, FROM_START) + files["mp3"][1]
    seeds["flac-speed-12"] = decoder_controls(".flac", 12.0, 30, SEEK_POSITION, seek=300) + files["flac"][1]
    seeds["opus-refused-speed-then-2x"] = decoder_controls(".opus", 0.0, 10, SEEK_TO_START) + files["opus-in-ogg"][1]
    seeds["vorbis-nan-speed"] = decoder_controls(".ogg", 10, "nan", WHERE_STOPPED) + files["vorbis-in-ogg"][1]
    return seeds


def settings_corpus():
    rnd = Random(99)
    typical = (
        "[VelofonSettings]\n"
        "SpeedIdx=10\nRepeat=1\nMixingVolume=50\nAlphaControl=5\nFileSelect=1\nWaitSec=0\n"
        "PlayListCount=3\n"
        "PlayFile00000=/home/user/講義/第1回.wav\n"
        "PlayFile00001=/home/user/lessons/lesson 2.wav\n"
        "PlayFile00002=/media/usb/audiobook/ch01.WAV\n"
    )
    seeds = {
        "empty": b"",
        "typical": typical.encode(),
        "typical-crlf": typical.replace("\n", "\r\n").encode(),
        "typical-bom": b"\xef\xbb\xbf" + typical.encode(),
        "bom-only": b"\xef\xbb\xbf",
        "group-only": b"[VelofonSettings]\n",
        "no-final-newline": typical.rstrip("\n").encode(),
        "garbage": bytes(rnd.next() & 0xFF for _ in range(512)),
        "garbage-text": bytes(32 + rnd.next() % 95 for _ in range(512)),
        "nul-byte": typical.encode().replace(b"Repeat=1", b"Repeat=\x001"),
        "counts-huge": b"[VelofonSettings]\nPlayListCount=2147483647\nSpeedIdx=2147483647\nWaitSec=4294967295\n",
        "counts-negative": b"[VelofonSettings]\nPlayListCount=-2147483648\nSpeedIdx=-1\nMixingVolume=-100\n"
                           b"AlphaControl=-2147483648\nPlayFile00000=x\n",
        "counts-overflow": b"[VelofonSettings]\nPlayListCount=4294967296\nSpeedIdx=99999999999999999999\n"
                           b"Repeat=-2147483649\nMixingVolume=-0\nAlphaControl=+5\nFileSelect=0x10\nWaitSec=1e3\n",
        "numbers-spaced": b"[VelofonSettings]\nSpeedIdx = \t12 \t\nRepeat=\t2\nMixingVolume=5 0\nPlayListCount= 2 \n"
                          b"PlayFile00000=  a\nPlayFile00001=b  \n",
        "invalid-utf8-value": b"[VelofonSettings]\nPlayListCount=2\nPlayFile00000=/home/\xff\xfe/x.wav\n"
                              b"PlayFile00001=\xc3\x28\xe2\x82\n",
        "invalid-utf8-key": b"[VelofonSettings]\nPlay\xffFile=1\nSpeedIdx=3\n",
        "invalid-utf8-group": b"[Velofon\xc0\xafSettings]\nSpeedIdx=3\n",
        "invalid-utf8-comment": b"# \xff\xfe comment\n[VelofonSettings]\nSpeedIdx=3\n",
        "escapes-glib": b"[VelofonSettings]\nPlayListCount=4\nPlayFile00000=\\sleading\\s\nPlayFile00001=a\\nb\\tc\\rd\\\\e\n"
                        b"PlayFile00002=\\t\\s\nPlayFile00003=semi;colon\\;\n",
        "escapes-own": b"[VelofonSettings]\nPlayListCount=4\nPlayFile00000=a\\x00b\\x7f\\xff\nPlayFile00001=\\x0c\\x1b[0m\n"
                       b"PlayFile00002=\\xC3\\x28 mixed\nPlayFile00003=caf\\xc3\\xa9\n",
        "escapes-broken": b"[VelofonSettings]\nPlayListCount=5\nPlayFile00000=\\q\nPlayFile00001=trailing\\\n"
                          b"PlayFile00002=\\x4\nPlayFile00003=\\xZZ\nPlayFile00004=\\u00e9\n",
        "duplicate-keys": b"[VelofonSettings]\nSpeedIdx=1\nSpeedIdx=2\nPlayListCount=1\nPlayFile00000=a\nPlayFile00000=b\n",
        "duplicate-groups": b"[VelofonSettings]\nSpeedIdx=1\n[Other]\nx=1\n[VelofonSettings]\nSpeedIdx=2\nPlayListCount=1\n",
        "other-groups-first": b"[Window]\nLeft=10\nEncoding=UTF-8\n\n[VelofonSettings]\nSpeedIdx=4\n",
        "encoding-latin1": b"[VelofonSettings]\nEncoding=ISO-8859-1\nSpeedIdx=4\n",
        "encoding-utf8": b"[VelofonSettings]\nEncoding=UTF-8\nSpeedIdx=4\n",
        "comments-and-blank-lines": b"# settings\n\n[VelofonSettings]\n# speed\nSpeedIdx=4\n\n   \n#end\n",
        "translations": b"[VelofonSettings]\nPlayListCount=1\nPlayFile00000=a.wav\nPlayFile00000[ja]=\xe3\x81\x82.wav\n"
                        b"PlayFile00000[de_DE.UTF-8@euro]=b.wav\n",
        "broken-line": b"[VelofonSettings]\nSpeedIdx\n",
        "broken-group": b"[VelofonSettings\nSpeedIdx=4\n",
        "key-before-group": b"SpeedIdx=4\n[VelofonSettings]\n",
        "spaces-in-names": b"[ VelofonSettings ]\n SpeedIdx =4\n[VelofonSettings]\nPlay File=x\n",
        "long-line": b"[VelofonSettings]\nPlayListCount=1\nPlayFile00000=/" + b"a" * 30000 + b".wav\n",
        "long-group": b"[" + b"G" * 4096 + b"]\nk=v\n",
        "many-entries": b"[VelofonSettings]\nPlayListCount=40\n"
                        + b"".join(b"PlayFile%05d=/music/%d.wav\n" % (i, i) for i in range(40)),
        # The first two lines are also taken as an entry name and a value or section.
        "name-encoding": b"Encoding\nISO-8859-1\n",
        "name-speedidx": b"SpeedIdx\nVelofonSettings\n",
        "name-awkward": b"#comment\n[x]\n",
        "name-spaces": b" padded \n trailing \n",
        "name-equals": b"a=b\n=\n",
        "cr-only": b"[VelofonSettings]\rSpeedIdx=4\r",
    }
    return seeds


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, content in seeds.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(content)
    return sum(len(c) for c in seeds.values())


if __name__ == "__main__":
    total = write("wave", wave_corpus()) + write("decoder", decoder_corpus()) + write("settings", settings_corpus())
    print("%d bytes" % total)
