#!/usr/bin/python3
"""Writes the neural tests' model files and their expected outputs.

For each fixed WaveNet shape <C, H> it writes wavenet_C_H.nam, a model file with seeded random weights, and
the output that a plain double-precision evaluation of the network, written from the layer equations, gives
for the shared test signal input.f32: wavenet_C_H.bare.f32 from all-zero histories and
wavenet_C_H.prewarmed.f32 from the state that endless silence leaves. Samples are raw little-endian float32.

usage: generate_models.py <output folder>
"""
import json
import os
import sys

import numpy as np

SAMPLE_RATE = 48000
SIGNAL_LENGTH = 12000
# Longer than the 4092-sample receptive field of every shape, so the histories are settled afterwards.
SILENT_LEAD = 8192

C1, C2, C3, C4, C5 = 0.89322984, 0.82122666, 2.4555075, 2.4450665, 0.8146427

SHAPES = [(16, 8), (12, 6), (8, 4), (4, 2)]
DILATIONS_FULL = [1, 2, 4, 8, 16, 32, 64, 128, 256, 512]
DILATIONS_SHORT = [1, 2, 4, 8, 16, 32, 64]
DILATIONS_LONG = [128, 256, 512] + DILATIONS_FULL


def fast_tanh(x):
    a = np.abs(x)
    q = x * x
    return x * ((C1 + C2 * a) * q + C3 * (1.0 + a)) / (C4 + np.abs(x + C5 * x * a) * (q + C4))


def layer_arrays(channels, head_size):
    if channels == 16:
        dilations0, dilations1 = DILATIONS_FULL, DILATIONS_FULL
    else:
        dilations0, dilations1 = DILATIONS_SHORT, DILATIONS_LONG
    common = {"condition_size": 1, "kernel_size": 3, "activation": "Tanh", "gated": False}
    return [
        dict(common, input_size=1, head_size=head_size, channels=channels, dilations=dilations0, head_bias=False),
        dict(common, input_size=channels, head_size=1, channels=head_size, dilations=dilations1, head_bias=True),
    ]


def random_weights(arrays, rng):
    """The flat weight list in file order, with scales that keep the activations off saturation."""
    weights = []

    def add(values):
        weights.extend(np.asarray(values, dtype=np.float32).ravel().tolist())

    for array in arrays:
        ch, inputs, heads = array["channels"], array["input_size"], array["head_size"]
        add(rng.normal(0.0, 0.8 / np.sqrt(inputs), (ch, inputs)))
        for _ in array["dilations"]:
            add(rng.normal(0.0, 0.7 / np.sqrt(3 * ch), (ch, ch, 3)))
            add(rng.normal(0.0, 0.1, ch))
            add(rng.normal(0.0, 0.5, ch))
            add(rng.normal(0.0, 0.5 / np.sqrt(ch), (ch, ch)))
            add(rng.normal(0.0, 0.05, ch))
        add(rng.normal(0.0, 1.0 / np.sqrt(ch), (heads, ch)))
        if array["head_bias"]:
            add(rng.normal(0.0, 0.1, heads))
    add([0.6])
    return weights


class Reader:
    def __init__(self, weights):
        self.weights = np.asarray(weights, dtype=np.float64)
        self.position = 0

    def take(self, count, shape):
        values = self.weights[self.position:self.position + count]
        self.position += count
        return values.reshape(shape)


def delayed(signal, frames):
    """signal (rows x T) delayed by frames, with silence before the start."""
    if frames == 0:
        return signal
    out = np.zeros_like(signal)
    out[:, frames:] = signal[:, :-frames]
    return out


def run_array(array, reader, array_input, condition, head):
    """One layer array over the whole signal; returns its last layer's output and its head output."""
    ch, inputs, heads = array["channels"], array["input_size"], array["head_size"]
    rechannel = reader.take(ch * inputs, (ch, inputs))
    u = rechannel @ array_input
    for dilation in array["dilations"]:
        taps = reader.take(3 * ch * ch, (ch, ch, 3))
        conv_bias = reader.take(ch, (ch, 1))
        mixin = reader.take(ch, (ch, 1))
        v = reader.take(ch * ch, (ch, ch))
        v_bias = reader.take(ch, (ch, 1))
        # Tap k weighs the input 2D, D and 0 frames back.
        z = (conv_bias + taps[:, :, 0] @ delayed(u, 2 * dilation) + taps[:, :, 1] @ delayed(u, dilation)
             + taps[:, :, 2] @ u + mixin @ condition)
        a = fast_tanh(z)
        head = head + a
        u = v @ a + v_bias + u
    head_rechannel = reader.take(heads * ch, (heads, ch))
    head_out = head_rechannel @ head
    if array["head_bias"]:
        head_out = head_out + reader.take(heads, (heads, 1))
    return u, head_out


def run_network(arrays, weights, signal):
    reader = Reader(weights)
    x = np.asarray(signal, dtype=np.float64).reshape(1, -1)
    c = arrays[0]["channels"]
    out0, head0 = run_array(arrays[0], reader, x, x, np.zeros((c, x.shape[1])))
    _, head1 = run_array(arrays[1], reader, out0, x, head0)
    head_scale = reader.take(1, ())
    assert reader.position == len(weights)
    return head_scale * head1[0]


def test_signal(rng):
    """A sine sweep, noise and steps with a stretch of silence between them."""
    t = np.arange(4000) / SAMPLE_RATE
    sine = 0.6 * np.sin(2 * np.pi * (110 + 900 * t) * t)
    noise = rng.uniform(-0.9, 0.9, 4000)
    steps = np.repeat([0.0, 0.8, -0.5, 1.0, 0.0, -1.0, 0.3, 0.0], 500)
    signal = np.concatenate([sine, noise, steps])
    assert len(signal) == SIGNAL_LENGTH
    return signal.astype(np.float32)


def main():
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    rng = np.random.default_rng(20240611)
    signal = test_signal(rng)
    signal.astype("<f4").tofile(os.path.join(out_dir, "input.f32"))
    lead = np.concatenate([np.zeros(SILENT_LEAD, dtype=np.float32), signal])
    for index, (channels, head_size) in enumerate(SHAPES):
        arrays = layer_arrays(channels, head_size)
        weights = random_weights(arrays, rng)
        document = {
            "version": "0.5.2",
            "architecture": "WaveNet",
            "config": {"layers": arrays, "head": None, "head_scale": 0.6},
            "metadata": {"loudness": -20.0 + index, "input_level_dbu": 18.0 - index,
                         "output_level_dbu": 6.5 + index},
            "sample_rate": SAMPLE_RATE,
            "weights": weights,
        }
        name = os.path.join(out_dir, "wavenet_%d_%d" % (channels, head_size))
        with open(name + ".nam", "w") as file:
            json.dump(document, file)
        bare = run_network(arrays, weights, signal)
        prewarmed = run_network(arrays, weights, lead)[SILENT_LEAD:]
        bare.astype("<f4").tofile(name + ".bare.f32")
        prewarmed.astype("<f4").tofile(name + ".prewarmed.f32")


if __name__ == "__main__":
    main()
