#!/usr/bin/python3
"""Writes the model-file fuzz target's seed corpus: small model files the player builds (LSTMs and WaveNets
sized at run time), and the refused ones that found faults (a single huge weight; input mixin weights of 1e10,
whose tanh is not finite at the loudest input the player gives; metadata asking for +582 dB).

usage: make_corpus.py <output folder>
"""
import json
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from generate_models import random_weights  # noqa: E402


def lstm(layers, hidden, rng):
    count = 0
    for layer in range(layers):
        inputs = 1 if layer == 0 else hidden
        count += 4 * hidden * (inputs + hidden) + 4 * hidden + 2 * hidden
    count += hidden + 1
    return {"version": "0.5.4", "architecture": "LSTM",
            "config": {"num_layers": layers, "input_size": 1, "hidden_size": hidden},
            "sample_rate": 48000, "weights": rng.normal(0.0, 0.3, count).round(3).tolist()}


def wavenet(channels, dilations, rng, gated=False):
    common = {"condition_size": 1, "kernel_size": 3, "activation": "Tanh", "gated": gated}
    arrays = [dict(common, input_size=1, head_size=1, channels=channels, dilations=dilations, head_bias=True)]
    weights = [round(w, 3) for w in random_weights(arrays, rng)]
    return {"version": "0.5.2", "architecture": "WaveNet",
            "config": {"layers": arrays, "head": None, "head_scale": 0.6},
            "sample_rate": 48000, "weights": weights}


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    rng = np.random.default_rng(23)
    huge = wavenet(2, [1, 2], rng)
    huge["weights"][3] = 1e6
    files = {
        "lstm-0x4": lstm(0, 4, rng),
        "lstm-1x3": lstm(1, 3, rng),
        "lstm-2x2": lstm(2, 2, rng),
        "wavenet-2-1-2": wavenet(2, [1, 2], rng),
        "wavenet-3-1-4-16": wavenet(3, [1, 4, 16], rng),
        "wavenet-huge-weight": huge,
    }
    loud_mixin = wavenet(2, [1, 2], rng)
    loud_mixin["weights"][16:18] = [1e10, 1e10]
    files["wavenet-loud-mixin"] = loud_mixin
    files["wavenet-loudness"] = dict(wavenet(2, [1, 2], rng), metadata={"loudness": -600})
    for name, document in files.items():
        with open(os.path.join(out_dir, name), "w") as file:
            json.dump(document, file, separators=(",", ":"))


if __name__ == "__main__":
    main()
