#!/usr/bin/env python3
"""How well sped-up speech is understood: word error rate of a speech recognizer
listening to velofon (both modes) and to the free time-stretch tools.

The listener is pocketsphinx with its US English model and a word-pair
language model of the prompts' own words (every pair of words that follows
one another in some prompt, with a small weight for any other pair). The
speech is bench/speech/sentences.txt, spoken by every English voice of
festival, flite and espeak-ng that is installed, each sentence by two voices
in turn, at a mix of sample rates (8, 16, 22.05 and 44.1 kHz), with a quiet
noise floor and pauses of 0.15 to 0.6 s before and after as recordings have. Each prompt is
rendered by every tool at each speed, brought to 16 kHz mono for the
recognizer, and scored against its sentence.

The table gives the word error rate in percent with its 95 % confidence
interval (bootstrap over the prompts), and below it the output's length
against input length / speed summed over the prompts (1.00 is exact).

Needs (Debian packages): pocketsphinx, pocketsphinx-en-us, sox, festival with
festvox-kallpc16k, festvox-kdlpc16k and festvox-us-slt-hts, flite, espeak-ng,
and the peers sonic, soundstretch and ffmpeg; missing voices and tools are
left out.

Usage: bench/intelligibility.py [--velofon build/bin/velofon] [--speeds 1.5,2.0,2.5,3.0]
       [--tools velofon,velofon-clear,sonic,sox,atempo,soundstretch] [--voices N] [--keep DIR]
       [--jobs 2]
"""
import argparse
import concurrent.futures
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
MODEL = "/usr/share/pocketsphinx/model/en-us"
RATES = [8000, 16000, 22050, 44100]
# Recorded prompts are spoken slower and more carefully than the voices' defaults.
FESTIVAL_PACE = "(Parameter.set 'Duration_Stretch 1.2)"
FLITE_PACE = "duration_stretch=1.15"

# name: (command that writes the WAV at out from the text file at txt, what it needs)
VOICES = {
    "festival-kal": (["text2wave", "-eval", "(voice_kal_diphone)", "-eval", FESTIVAL_PACE, "{txt}", "-o", "{out}"],
                     "text2wave"),
    "festival-ked": (["text2wave", "-eval", "(voice_ked_diphone)", "-eval", FESTIVAL_PACE, "{txt}", "-o", "{out}"],
                     "text2wave"),
    "festival-slt": (["text2wave", "-eval", "(voice_cmu_us_slt_arctic_hts)", "{txt}", "-o",
                      "{out}"], "text2wave"),
    "flite-slt": (["flite", "-voice", "slt", "--setf", FLITE_PACE, "-f", "{txt}", "-o", "{out}"], "flite"),
    "flite-rms": (["flite", "-voice", "rms", "--setf", FLITE_PACE, "-f", "{txt}", "-o", "{out}"], "flite"),
    "flite-awb": (["flite", "-voice", "awb", "--setf", FLITE_PACE, "-f", "{txt}", "-o", "{out}"], "flite"),
    "espeak-us": (["espeak-ng", "-v", "en-us", "-s", "135", "-f", "{txt}", "-w", "{out}"], "espeak-ng"),
    "espeak-gb-f": (["espeak-ng", "-v", "en-gb+f3", "-s", "135", "-f", "{txt}", "-w", "{out}"], "espeak-ng"),
}

TOOLS = {
    "velofon": lambda v, s, i, o: [v, "render", "--speed", s, "-o", o, i],
    "velofon-clear": lambda v, s, i, o: [v, "render", "--clear", "--speed", s, "-o", o, i],
    "sonic": lambda v, s, i, o: ["sonic", "-s", s, i, o],
    "sox": lambda v, s, i, o: ["sox", i, o, "tempo", "-s", s],
    "atempo": lambda v, s, i, o: ["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", i, "-af", "atempo=" + s, o],
    "soundstretch": lambda v, s, i, o: ["soundstretch", i, o, "-tempo=%+g" % ((float(s) - 1) * 100)],
}
TOOL_NEEDS = {"velofon": None, "velofon-clear": None, "sonic": "sonic", "sox": "sox", "atempo": "ffmpeg",
              "soundstretch": "soundstretch"}


def run(command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def read_wav(path):
    with wave.open(path, "rb") as w:
        channels, width, rate, frames = w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()
        data = w.readframes(frames)
    if width != 2:
        raise ValueError(path + ": not 16-bit")
    samples = struct.unpack("<%dh" % (len(data) // 2), data)
    return rate, list(samples[::channels])


def write_wav(path, rate, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def wav_seconds(path):
    with wave.open(path, "rb") as w:
        return w.getnframes() / w.getframerate()


def make_prompt(voice, text, index, work):
    """Speaks text in voice, at a rate of its own, with pauses and a noise floor."""
    rng = random.Random(index)
    txt = os.path.join(work, "p%03d.txt" % index)
    spoken = os.path.join(work, "p%03d-voice.wav" % index)
    resampled = os.path.join(work, "p%03d-rate.wav" % index)
    out = os.path.join(work, "p%03d.wav" % index)
    with open(txt, "w") as f:
        f.write(text + "\n")
    command, _ = VOICES[voice]
    run([part.format(txt=txt, out=spoken) for part in command])
    rate = RATES[index % len(RATES)]
    run(["sox", spoken, "-r", str(rate), "-c", "1", "-b", "16", resampled, "norm", "-3"])
    _, samples = read_wav(resampled)
    lead = [0] * int(rate * rng.uniform(0.15, 0.6))
    tail = [0] * int(rate * rng.uniform(0.15, 0.6))
    floor = rng.choice([8, 20, 40])
    noisy = [max(-32768, min(32767, s + rng.randint(-floor, floor))) for s in lead + samples + tail]
    write_wav(out, rate, noisy)
    for path in (txt, spoken, resampled):
        os.remove(path)
    return out


def to_recognizer(wav, raw):
    run(["sox", wav, "-r", "16000", "-c", "1", "-b", "16", "-e", "signed-integer", "-t", "raw", raw])


def write_language_model(sentences, path):
    """A word-pair model: the pairs seen in the prompts, backing off to any word."""
    import math
    words = sorted({w for s in sentences for w in s.split()})
    pairs = {}
    for s in sentences:
        tokens = ["<s>"] + s.split() + ["</s>"]
        for a, b in zip(tokens, tokens[1:]):
            pairs.setdefault(a, set()).add(b)
    vocabulary = ["<s>", "</s>"] + words
    unigram = math.log10(1.0 / (len(words) + 1))
    lines = ["\\data\\", "ngram 1=%d" % len(vocabulary), "ngram 2=%d" % sum(len(v) for v in pairs.values()), "",
             "\\1-grams:"]
    for w in vocabulary:
        backoff = math.log10(0.01) if w in pairs else 0.0
        prob = -99.0 if w == "<s>" else unigram
        lines.append("%.4f %s %.4f" % (prob, w, backoff))
    lines += ["", "\\2-grams:"]
    for a in vocabulary:
        followers = sorted(pairs.get(a, ()))
        for b in followers:
            lines.append("%.4f %s %s" % (math.log10(0.99 / len(followers)), a, b))
    lines += ["", "\\end\\", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def write_dictionary(sentences, path):
    wanted = {w for s in sentences for w in s.split()}
    with open(os.path.join(MODEL, "cmudict-en-us.dict")) as source, open(path, "w") as out:
        for line in source:
            word = line.split(" ", 1)[0]
            if word.split("(")[0] in wanted:
                out.write(line)


def recognize(raws, work, tag):
    """Decodes 16 kHz raw files in one pocketsphinx run; returns their word lists."""
    ctl = os.path.join(work, tag + ".ctl")
    hyp = os.path.join(work, tag + ".hyp")
    with open(ctl, "w") as f:
        for raw in raws:
            f.write(os.path.splitext(raw)[0] + "\n")
    subprocess.run(["pocketsphinx_batch", "-hmm", os.path.join(MODEL, "en-us"), "-lm", os.path.join(work, "lm.arpa"),
                    "-dict", os.path.join(work, "words.dict"), "-adcin", "yes", "-cepdir", "/", "-cepext", ".raw",
                    "-ctl", ctl, "-hyp", hyp], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    found = {}
    with open(hyp) as f:
        for line in f:
            text, _, rest = line.rstrip().rpartition(" (")
            found[os.path.basename(rest.split(" ")[0])] = text.split()
    return [found.get(os.path.basename(os.path.splitext(raw)[0]), []) for raw in raws]


def word_errors(reference, hypothesis):
    previous = list(range(len(hypothesis) + 1))
    for i, r in enumerate(reference, 1):
        current = [i]
        for j, h in enumerate(hypothesis, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (r != h)))
        previous = current
    return previous[-1]


def score(references, hypotheses):
    """Word error rate in percent and its 95 % bootstrap interval over the prompts."""
    errors = [word_errors(r.split(), h) for r, h in zip(references, hypotheses)]
    words = [len(r.split()) for r in references]
    rate = 100.0 * sum(errors) / sum(words)
    rng = random.Random(1)
    rates = []
    for _ in range(1000):
        picks = [rng.randrange(len(errors)) for _ in errors]
        rates.append(100.0 * sum(errors[k] for k in picks) / sum(words[k] for k in picks))
    rates.sort()
    return rate, rates[25], rates[974]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--velofon", default=os.path.join(HERE, "..", "build", "bin", "velofon"))
    parser.add_argument("--speeds", default="1.5,2.0,2.5,3.0")
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument("--voices", type=int, default=len(VOICES), help="use the first N voices")
    parser.add_argument("--prompts", type=int, default=0, help="use only the first N sentences")
    parser.add_argument("--speakers", type=int, default=2, help="voices per sentence")
    parser.add_argument("--keep", help="keep the prompts and renders in this folder")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()

    if not shutil.which("pocketsphinx_batch") or not os.path.isdir(MODEL) or not shutil.which("sox"):
        sys.exit("intelligibility: needs pocketsphinx, pocketsphinx-en-us and sox")
    voices = [v for v in list(VOICES)[:args.voices] if shutil.which(VOICES[v][1])]
    tools = [t for t in args.tools.split(",") if TOOL_NEEDS.get(t, "") is None or shutil.which(TOOL_NEEDS[t])]
    missing = set(args.tools.split(",")) - set(tools)
    if missing:
        print("intelligibility: leaving out %s (not installed)" % ", ".join(sorted(missing)), file=sys.stderr)
    speeds = args.speeds.split(",")
    with open(os.path.join(HERE, "speech", "sentences.txt")) as f:
        sentences = [line.strip() for line in f if line.strip()]
    if args.prompts:
        sentences = sentences[:args.prompts]

    work = args.keep or tempfile.mkdtemp(prefix="intelligibility-")
    os.makedirs(work, exist_ok=True)
    try:
        write_language_model(sentences, os.path.join(work, "lm.arpa"))
        write_dictionary(sentences, os.path.join(work, "words.dict"))
        # Prompt k is sentence k % n, spoken by a voice that moves on by three
        # for each further speaker of it.
        n = len(sentences)
        texts = [sentences[k % n] for k in range(n * args.speakers)]
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            prompts = list(pool.map(lambda k: make_prompt(voices[(k % n + 3 * (k // n)) % len(voices)], texts[k], k,
                                                          work), range(len(texts))))
            input_seconds = sum(wav_seconds(p) for p in prompts)

            def render_all(tool, speed):
                folder = os.path.join(work, "%s-%s" % (tool, speed))
                os.makedirs(folder, exist_ok=True)
                raws, seconds = [], 0.0
                for k, prompt in enumerate(prompts):
                    out = os.path.join(folder, "p%03d.wav" % k)
                    if speed == "1.0":
                        shutil.copy(prompt, out)
                    else:
                        run(TOOLS[tool](args.velofon, speed, prompt, out))
                    seconds += wav_seconds(out)
                    raw = os.path.join(folder, "p%03d.raw" % k)
                    to_recognizer(out, raw)
                    raws.append(raw)
                return raws, seconds

            runs = [("input", "1.0")] + [(t, s) for s in speeds for t in tools]
            rendered = dict(zip(runs, pool.map(lambda r: render_all(*r), runs)))
            hypotheses = dict(zip(runs, pool.map(lambda r: recognize(rendered[r][0], work, "%s-%s" % r), runs)))

        print("%d prompts, %d words, %s; %.0f s of speech" % (
            len(texts), sum(len(s.split()) for s in texts), ", ".join(voices), input_seconds))
        rate, low, high = score(texts, hypotheses[("input", "1.0")])
        print("unstretched: %.1f %% (%.1f-%.1f)\n" % (rate, low, high))
        print("| tool | " + " | ".join(s + "x" for s in speeds) + " |")
        print("|---|" + "---|" * len(speeds))
        for tool in tools:
            cells = []
            for speed in speeds:
                rate, low, high = score(texts, hypotheses[(tool, speed)])
                cells.append("%.1f (%.1f-%.1f)" % (rate, low, high))
            print("| %s | %s |" % (tool, " | ".join(cells)))
        print("\noutput length / (input length / speed):")
        for tool in tools:
            print("  %-14s %s" % (tool, "  ".join(
                "%.3f" % (rendered[(tool, s)][1] / (input_seconds / float(s))) for s in speeds)))
    finally:
        if not args.keep:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
