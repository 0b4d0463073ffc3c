"""Double-precision reference for the secondary model library, written from the model equations.

It reads a model file as JSON and runs an input signal through the model from the state the loader leaves:
every signal (input and every layer's) is silent before the first sample, and the loader has already run
the prewarm silence, in whole blocks of 512 samples, through it.
"""
import json
import math

import numpy as np

PREWARM_BLOCK = 512


def rational_tanh(x):
    c = np.clip(x, -7.905311, 7.905311)
    s = c * c
    p = -2.7607684e-16
    for coefficient in (2.000188e-13, -8.604672e-11, 5.1222973e-8, 1.48572235e-5, 0.00063726195, 0.0048935246):
        p = p * s + coefficient
    q = 1.1982584e-6
    for coefficient in (0.00011853471, 0.0022684347, 0.004893525):
        q = q * s + coefficient
    return np.where(np.abs(x) < 0.0004, c, c * p / q)


def fast_tanh(x):
    a = np.abs(x)
    x2 = x * x
    return x * (2.4555075 * (1 + a) + x2 * (0.89322984 + 0.82122666 * a)) / (
        2.4450665 + (2.4450665 + x2) * np.abs(x + 0.8146427 * x * a))


def sigmoid(x):
    return 1.0 / (1.0 + np.exp(-x))


ACTIVATIONS = {
    "Tanh": rational_tanh,
    "Hardtanh": lambda x: np.clip(x, -1.0, 1.0),
    "Fasttanh": fast_tanh,
    "ReLU": lambda x: np.where(x > 0, x, 0.0),
    "LeakyReLU": lambda x: np.where(x > 0, x, 0.01 * x),
    "Sigmoid": sigmoid,
}


class Weights:
    """The flat weight list, read front to back."""

    def __init__(self, values):
        self.values = np.asarray(values, dtype=np.float64)
        self.position = 0

    def take(self, count):
        chunk = self.values[self.position:self.position + count]
        assert len(chunk) == count, "weight list too short"
        self.position += count
        return chunk

    def matrix(self, rows, columns):
        return self.take(rows * columns).reshape(rows, columns)

    def done(self):
        assert self.position == len(self.values), "weights left over"


def delayed(signal, delay):
    """signal[:, t - delay], silent before the start."""
    if delay == 0:
        return signal
    out = np.zeros_like(signal)
    out[:, delay:] = signal[:, :-delay]
    return out


def dilated_conv(weights, signal, in_channels, out_channels, kernel_size, dilation, bias):
    taps = weights.take(out_channels * in_channels * kernel_size).reshape(out_channels, in_channels, kernel_size)
    out = np.zeros((out_channels, signal.shape[1]))
    for k in range(kernel_size):
        out += taps[:, :, k] @ delayed(signal, dilation * (kernel_size - 1 - k))
    if bias:
        out += weights.take(out_channels)[:, None]
    return out


def one_by_one(weights, signal, in_channels, out_channels, bias):
    out = weights.matrix(out_channels, in_channels) @ signal
    if bias:
        out += weights.take(out_channels)[:, None]
    return out


def run_linear(config, weights, x):
    taps = weights.take(config["receptive_field"])
    bias = weights.take(1)[0] if config["bias"] else 0.0
    weights.done()
    y = np.full(len(x), bias)
    for k, w in enumerate(taps):
        y += w * delayed(x[None, :], k)[0]
    return y


def run_convnet(config, weights, x):
    channels = config["channels"]
    act = ACTIVATIONS[config["activation"]]
    signal = x[None, :]
    for index, dilation in enumerate(config["dilations"]):
        in_channels = 1 if index == 0 else channels
        z = dilated_conv(weights, signal, in_channels, channels, 2, dilation, not config["batchnorm"])
        if config["batchnorm"]:
            mean, variance, scale, shift = (weights.take(channels)[:, None] for _ in range(4))
            eps = weights.take(1)[0]
            z = (z - mean) / np.sqrt(variance + eps) * scale + shift
        signal = act(z)
    head = weights.take(channels)
    bias = weights.take(1)[0]
    weights.done()
    return head @ signal + bias


def lstm_functions(fast):
    if fast:
        return fast_tanh, lambda v: 0.5 * (fast_tanh(0.5 * v) + 1.0)
    return np.tanh, sigmoid


def run_lstm(config, weights, x, fast):
    tanh, sig = lstm_functions(fast)
    hidden = config["hidden_size"]
    cells = []
    for layer in range(config["num_layers"]):
        inputs = config["input_size"] if layer == 0 else hidden
        W = weights.matrix(4 * hidden, inputs + hidden)
        b = weights.take(4 * hidden)
        h = weights.take(hidden).copy()
        c = weights.take(hidden).copy()
        cells.append([W, b, h, c])
    head = weights.take(hidden)
    head_bias = weights.take(1)[0]
    weights.done()
    if not cells:
        return x.copy()
    y = np.empty(len(x))
    H = hidden
    for t, sample in enumerate(x):
        layer_input = np.array([sample])
        for cell in cells:
            W, b, h, c = cell
            gates = W @ np.concatenate([layer_input, h]) + b
            c = sig(gates[H:2 * H]) * c + sig(gates[:H]) * tanh(gates[2 * H:3 * H])
            h = sig(gates[3 * H:]) * tanh(c)
            cell[2], cell[3] = h, c
            layer_input = h
        y[t] = head @ layer_input + head_bias
    return y


def run_wavenet(config, weights, x):
    condition = x[None, :]
    layer_input = condition
    head_sum = None
    for array in config["layers"]:
        channels = array["channels"]
        act = ACTIVATIONS[array["activation"]]
        gated = array["gated"]
        conv_channels = 2 * channels if gated else channels
        signal = one_by_one(weights, layer_input, array["input_size"], channels, False)
        if head_sum is None:
            head_sum = np.zeros((channels, len(x)))
        for dilation in array["dilations"]:
            z = dilated_conv(weights, signal, channels, conv_channels, array["kernel_size"], dilation, True)
            z += one_by_one(weights, condition, array["condition_size"], conv_channels, False)
            if gated:
                activated = act(z[:channels]) * sigmoid(z[channels:])
            else:
                activated = act(z)
            head_sum = head_sum + activated
            signal = signal + one_by_one(weights, activated, channels, channels, True)
        head_sum = one_by_one(weights, head_sum, channels, array["head_size"], array["head_bias"])
        layer_input = signal
    head_scale = weights.take(1)[0]
    weights.done()
    return head_scale * head_sum[0]


def prewarm_samples(model):
    config = model["config"]
    architecture = model["architecture"]
    if architecture == "Linear":
        return 0
    if architecture == "ConvNet":
        return 1 + sum(config["dilations"])
    if architecture == "LSTM":
        rate = model.get("sample_rate", -1.0)
        return max(1, math.trunc(0.5 * rate))
    if architecture == "WaveNet":
        return 1 + sum((a["kernel_size"] - 1) * d for a in config["layers"] for d in a["dilations"])
    raise ValueError(architecture)


def run(model, x, fast_tanh_lstm=True):
    """The model's answer to x, after the loader's prewarm."""
    count = prewarm_samples(model)
    silence = -(-count // PREWARM_BLOCK) * PREWARM_BLOCK if count > 0 else 0
    signal = np.concatenate([np.zeros(silence), np.asarray(x, dtype=np.float64)])
    weights = Weights(model["weights"])
    architecture = model["architecture"]
    config = model["config"]
    if architecture == "Linear":
        y = run_linear(config, weights, signal)
    elif architecture == "ConvNet":
        y = run_convnet(config, weights, signal)
    elif architecture == "LSTM":
        y = run_lstm(config, weights, signal, fast_tanh_lstm)
    else:
        y = run_wavenet(config, weights, signal)
    return y[silence:]


def run_file(path, x, fast_tanh_lstm=True):
    with open(path) as f:
        return run(json.load(f), x, fast_tanh_lstm)
