#!/usr/bin/env python3
"""Writes the download window's three cue sounds as short 16-bit PCM WAV files.

  101.wav  a web page arrived instead of a document: two falling tones
  102.wav  the downloads came to an end: a rising three-note chime
  103.wav  a transfer failed: two low buzzes

Usage: tools/make_cues.py [output-folder]   (default: resources/cues)
The sounds are synthesised here; the output is deterministic.
"""
import math
import os
import struct
import sys
import wave

RATE = 22050
VOLUME = 0.45


def tone(freq, seconds, shape="sine", volume=VOLUME):
    n = int(RATE * seconds)
    fade = int(RATE * 0.012)  # short fades so the tones do not click
    out = []
    for i in range(n):
        t = i / RATE
        s = math.sin(2 * math.pi * freq * t)
        if shape == "buzz":  # odd harmonics give a rougher, warning-like tone
            s = s + math.sin(2 * math.pi * 3 * freq * t) / 3 + math.sin(2 * math.pi * 5 * freq * t) / 5
            s *= 0.75
        env = 1.0
        if i < fade:
            env = i / fade
        elif i > n - fade:
            env = (n - i) / fade
        out.append(s * env * volume)
    return out


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def write(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(max(-1.0, min(1.0, s)) * 32767)) for s in samples))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "cues")
    os.makedirs(folder, exist_ok=True)
    cues = {
        101: tone(880, 0.16) + silence(0.03) + tone(660, 0.22),
        102: tone(523.25, 0.11) + tone(659.25, 0.11) + tone(783.99, 0.11) + tone(1046.5, 0.25),
        103: tone(196, 0.16, "buzz") + silence(0.06) + tone(196, 0.22, "buzz"),
    }
    for number, samples in cues.items():
        write(os.path.join(folder, f"{number}.wav"), samples)


if __name__ == "__main__":
    main()
