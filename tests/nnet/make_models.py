"""Writes seeded model files of every architecture, input signals and the reference's expected outputs.

Usage: make_models.py OUTPUT_FOLDER

OUTPUT_FOLDER/cases.json lists, per case, the model file, the raw little-endian float32 input, the float64
expected output, the block sizes to feed and whether the LSTM runs with the fast tanh. It also holds a table
of activation inputs and expected outputs.
"""
import json
import math
import os
import sys

import numpy as np

import reference

BLOCKS = [64, 1, 17, 64, 3, 40, 64, 64, 5]
STANDARD_DILATIONS = [1, 2, 4, 8, 16, 32, 64, 128, 256, 512]


def normal(rng, count, scale):
    return list(rng.normal(0.0, scale, count))


def conv_weights(rng, in_channels, out_channels, kernel_size, bias, gain=1.0):
    values = normal(rng, out_channels * in_channels * kernel_size, gain / math.sqrt(in_channels * kernel_size))
    return values + (normal(rng, out_channels, 0.1) if bias else [])


def one_by_one_weights(rng, in_channels, out_channels, bias, gain=1.0):
    values = normal(rng, out_channels * in_channels, gain / math.sqrt(in_channels))
    return values + (normal(rng, out_channels, 0.1) if bias else [])


def linear(rng, receptive_field, bias):
    weights = normal(rng, receptive_field + (1 if bias else 0), 1.0 / math.sqrt(receptive_field))
    return {"architecture": "Linear", "config": {"receptive_field": receptive_field, "bias": bias},
            "weights": weights}


def convnet(rng, channels, dilations, batchnorm, activation):
    weights = []
    for index, _ in enumerate(dilations):
        in_channels = 1 if index == 0 else channels
        weights += conv_weights(rng, in_channels, channels, 2, not batchnorm, 1.5)
        if batchnorm:
            weights += normal(rng, channels, 0.2)                     # running mean
            weights += list(rng.uniform(0.5, 2.0, channels))          # running variance
            weights += list(rng.uniform(0.5, 1.5, channels))          # weight
            weights += normal(rng, channels, 0.2)                     # bias
            weights += [1e-3]                                         # eps
    weights += normal(rng, channels, 1.0 / math.sqrt(channels)) + normal(rng, 1, 0.1)
    return {"architecture": "ConvNet",
            "config": {"channels": channels, "dilations": dilations, "batchnorm": batchnorm,
                       "activation": activation},
            "weights": weights}


def lstm(rng, num_layers, hidden_size):
    weights = []
    for layer in range(num_layers):
        inputs = 1 if layer == 0 else hidden_size
        weights += normal(rng, 4 * hidden_size * (inputs + hidden_size), 1.0 / math.sqrt(inputs + hidden_size))
        weights += normal(rng, 4 * hidden_size, 0.2)
        weights += normal(rng, 2 * hidden_size, 0.3)   # initial hidden and cell state
    weights += normal(rng, hidden_size, 1.0 / math.sqrt(max(hidden_size, 1))) + normal(rng, 1, 0.1)
    return {"architecture": "LSTM",
            "config": {"num_layers": num_layers, "input_size": 1, "hidden_size": hidden_size},
            "weights": weights}


def layer_array(input_size, head_size, channels, kernel_size, dilations, activation, gated, head_bias):
    return {"input_size": input_size, "condition_size": 1, "head_size": head_size, "channels": channels,
            "kernel_size": kernel_size, "dilations": dilations, "activation": activation, "gated": gated,
            "head_bias": head_bias}


def wavenet(rng, arrays, head_scale):
    weights = []
    for array in arrays:
        channels = array["channels"]
        conv_channels = 2 * channels if array["gated"] else channels
        weights += one_by_one_weights(rng, array["input_size"], channels, False)
        for _ in array["dilations"]:
            weights += conv_weights(rng, channels, conv_channels, array["kernel_size"], True)
            weights += one_by_one_weights(rng, 1, conv_channels, False, 0.5)
            weights += one_by_one_weights(rng, channels, channels, True, 0.3)
        weights += one_by_one_weights(rng, channels, array["head_size"], array["head_bias"],
                                      1.0 / math.sqrt(len(array["dilations"]) or 1))
    weights += [head_scale]
    return {"architecture": "WaveNet",
            "config": {"layers": arrays, "head": None, "head_scale": 0.125},
            "weights": weights}


def standard_wavenet(rng, activation):
    """The two-array shape with 16 then 8 channels."""
    return wavenet(rng, [layer_array(1, 8, 16, 3, STANDARD_DILATIONS, activation, False, False),
                         layer_array(16, 1, 8, 3, STANDARD_DILATIONS, activation, False, True)], 0.2)


def signal(rng, length):
    t = np.arange(length)
    x = 0.4 * np.sin(2 * np.pi * 110.0 * t / 48000.0) + 0.3 * rng.normal(0.0, 1.0, length)
    x[length // 3: length // 3 + 100] = 0.0
    return x.astype(np.float32)


def models(rng):
    """(name, model file contents, input length, extra case settings)."""
    yield "linear_bias", dict(linear(rng, 8, True), sample_rate=48000.0), 10000, {}
    yield "linear_plain", linear(rng, 33, False), 6000, {}
    yield "convnet_tanh", convnet(rng, 3, [1, 2, 4, 8], False, "Tanh"), 40000, {"blocks": [512, 64, 1, 17, 300]}
    yield "convnet_batchnorm", convnet(rng, 4, [1, 3, 9], True, "ReLU"), 3000, {}
    yield "convnet_hardtanh", convnet(rng, 2, [2, 1], False, "Hardtanh"), 2000, {}
    yield "convnet_leaky", convnet(rng, 2, [1, 5], True, "LeakyReLU"), 2000, {}
    yield "convnet_sigmoid", convnet(rng, 2, [1, 2], False, "Sigmoid"), 2000, {}
    yield "lstm_1x8", dict(lstm(rng, 1, 8), sample_rate=48000.0), 3000, {}
    yield "lstm_2x4", lstm(rng, 2, 4), 3000, {}
    yield "lstm_0", lstm(rng, 0, 3), 500, {}
    exact = dict(lstm(rng, 2, 5), sample_rate=2000.0)
    yield "lstm_exact_tanh", exact, 2000, {"fast_tanh": False}
    yield "lstm_fast_tanh", exact, 2000, {}
    yield "wavenet_standard", standard_wavenet(rng, "Tanh"), 2048, {"blocks": [512, 64, 1, 17, 256]}
    yield "wavenet_gated", wavenet(rng, [layer_array(1, 3, 3, 2, [1, 4, 2], "ReLU", True, True),
                                         layer_array(3, 1, 3, 3, [3], "Sigmoid", True, False)], 0.7), 3000, {}
    # Crosses the layer arrays' history rewinds.
    yield "wavenet_long", wavenet(rng, [layer_array(1, 2, 2, 3, [1, 2, 4], "Fasttanh", False, False),
                                        layer_array(2, 1, 2, 2, [7, 1], "Hardtanh", False, True)], 0.9), 140000, {
        "blocks": [512, 257, 64, 511]}
    yield "wavenet_kernel1", wavenet(rng, [layer_array(1, 1, 3, 1, [1, 1], "LeakyReLU", False, True)], 1.3), 1000, {}
    yield "wavenet_empty_last", wavenet(rng, [layer_array(1, 2, 2, 2, [1], "Tanh", False, True),
                                              layer_array(2, 1, 2, 3, [], "Tanh", False, True)], 0.5), 500, {}


def activation_table():
    x = np.concatenate([np.linspace(-12.0, 12.0, 481), [0.0003, -0.0003, 0.0004, 7.905311, 8.0, 100.0, -100.0]])
    return {"input": [float(v) for v in x.astype(np.float32)],
            "expected": {name: [float(v) for v in f(x.astype(np.float32).astype(np.float64))]
                         for name, f in reference.ACTIVATIONS.items()}}


def main(out):
    os.makedirs(out, exist_ok=True)
    rng = np.random.default_rng(20240611)
    cases = []
    for name, model, length, extra in models(rng):
        model = dict(model, version="0.5.%d" % (len(cases) % 4))
        model["weights"] = [float(np.float32(w)) for w in model["weights"]]
        model_file = name + ".nam"
        with open(os.path.join(out, model_file), "w") as f:
            json.dump(model, f)
        x = signal(rng, length)
        fast = extra.get("fast_tanh", True)
        y = reference.run_file(os.path.join(out, model_file), x.astype(np.float64), fast)
        x.astype("<f4").tofile(os.path.join(out, name + ".in.f32"))
        y.astype("<f8").tofile(os.path.join(out, name + ".out.f64"))
        cases.append({"name": name, "model": model_file, "input": name + ".in.f32", "expected": name + ".out.f64",
                      "blocks": extra.get("blocks", BLOCKS), "fast_tanh": fast})
    # The same standard-shape weights with the fast tanh, and with the rational tanh, for comparisons with
    # the fixed-shape models of the main library.
    for activation in ("Fasttanh", "Tanh"):
        model = dict(standard_wavenet(np.random.default_rng(16008), activation), version="0.5.0",
                     sample_rate=48000.0)
        model["weights"] = [float(np.float32(w)) for w in model["weights"]]
        with open(os.path.join(out, "standard_%s.nam" % activation.lower()), "w") as f:
            json.dump(model, f)
    with open(os.path.join(out, "cases.json"), "w") as f:
        json.dump({"cases": cases, "activations": activation_table()}, f, indent=1)


if __name__ == "__main__":
    main(sys.argv[1])
