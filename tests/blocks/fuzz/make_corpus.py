#!/usr/bin/python3
"""Writes the impulse-response fuzz target's seed corpus: short WAV files at 48 kHz in every sample format
the cabinet block takes (16/24/32-bit PCM, 32-bit float; mono and stereo), a decaying click each.

usage: make_corpus.py <output folder>
"""
import math
import os
import struct
import sys


def wav(channels, bits, floating, frames=64, rate=48000):
    samples = []
    for n in range(frames):
        value = math.exp(-n / 8.0) * (1 if n % 2 == 0 else -0.5)
        for channel in range(channels):
            samples.append(value * (0.8 if channel else 0.6))
    if floating:
        data = b"".join(struct.pack("<f", s) for s in samples)
    else:
        full = (1 << (bits - 1)) - 1
        data = b"".join(int(round(s * full)).to_bytes(bits // 8, "little", signed=True) for s in samples)
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 3 if floating else 1, channels, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    files = {
        "pcm16-mono": wav(1, 16, False),
        "pcm24-stereo": wav(2, 24, False),
        "pcm32-mono": wav(1, 32, False, frames=32),
        "float-stereo": wav(2, 32, True, frames=32),
    }
    for name, data in files.items():
        with open(os.path.join(out_dir, name), "wb") as file:
            file.write(data)


if __name__ == "__main__":
    main()
