#pragma once
// Seeded model files for the runtime-sized models and a plain double-precision evaluation of them, written from
// the layer equations: whole-signal loops over std::vector<double>, with silence before the signal's start.
// Nothing here uses the library's classes, so the models are checked against an independent computation.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "neural/NeuralModel.h"
#include "tests/neural/ModelFiles.h"

namespace runtimetest {

using neuraltest::expectClose;
using neuraltest::runModel;

using Signal = std::vector<double>;
using Rows = std::vector<Signal>; // one row per channel, one column per frame

// Uniform values from a seeded Mersenne twister; the generator's sequence is fixed by the standard, and the
// mapping to doubles is done here, so the files are the same on every platform.
class SeededUniform {
public:
    explicit SeededUniform(std::uint32_t seed) : generator(seed) {}
    // Uniform in [-scale, scale].
    double operator()(double scale) { return scale * (2.0 * double(generator()) / 4294967295.0 - 1.0); }

private:
    std::mt19937 generator;
};

// A sine sweep, noise and steps.
inline std::vector<float> testSignal(std::size_t length = 6000) {
    SeededUniform random(99);
    std::vector<float> signal(length);
    for (std::size_t i = 0; i < length; ++i) {
        const double t = double(i) / 48000.0;
        const std::size_t part = 3 * i / length;
        if (part == 0) {
            signal[i] = float(0.7 * std::sin(2.0 * M_PI * (80.0 + 1500.0 * t) * t));
        } else if (part == 1) {
            signal[i] = float(random(0.9));
        } else {
            const double steps[] = {0.0, 0.8, -0.5, 1.0, 0.0, -1.0};
            signal[i] = float(steps[(i / 173) % 6]);
        }
    }
    return signal;
}

inline std::vector<float> withSilenceBefore(const std::vector<float>& signal, std::size_t silence) {
    std::vector<float> result(silence, 0.0f);
    result.insert(result.end(), signal.begin(), signal.end());
    return result;
}

// ---------------------------------------------------------------------------------------------------------
// WaveNet

struct ArrayShape {
    int inputSize;
    int headSize;
    int channels;
    int kernelSize;
    std::vector<int> dilations;
    std::string activation;
    bool gated;
    bool headBias;
};

inline int convolutionRows(const ArrayShape& shape) { return shape.gated ? 2 * shape.channels : shape.channels; }

inline nlohmann::json arrayConfig(const ArrayShape& shape) {
    return {{"input_size", shape.inputSize},   {"condition_size", 1},
            {"head_size", shape.headSize},     {"channels", shape.channels},
            {"kernel_size", shape.kernelSize}, {"dilations", shape.dilations},
            {"activation", shape.activation},  {"gated", shape.gated},
            {"head_bias", shape.headBias}};
}

// Weights in file order with scales that keep the activations mostly off saturation.
inline std::vector<float> waveNetWeights(const std::vector<ArrayShape>& shapes, std::uint32_t seed) {
    SeededUniform random(seed);
    std::vector<float> weights;
    const auto add = [&](std::size_t count, double scale) {
        for (std::size_t i = 0; i < count; ++i) {
            weights.push_back(float(random(scale)));
        }
    };
    for (const ArrayShape& shape : shapes) {
        const std::size_t ch = std::size_t(shape.channels);
        const std::size_t rows = std::size_t(convolutionRows(shape));
        add(ch * std::size_t(shape.inputSize), 1.2 / std::sqrt(double(shape.inputSize)));
        for (std::size_t layer = 0; layer < shape.dilations.size(); ++layer) {
            add(rows * ch * std::size_t(shape.kernelSize), 1.2 / std::sqrt(double(shape.kernelSize * shape.channels)));
            add(rows, 0.2);
            add(rows, 0.8);
            add(ch * ch, 0.8 / std::sqrt(double(ch)));
            add(ch, 0.1);
        }
        add(std::size_t(shape.headSize) * ch, 1.5 / std::sqrt(double(ch)));
        if (shape.headBias) {
            add(std::size_t(shape.headSize), 0.2);
        }
    }
    weights.push_back(0.7f); // head scale
    return weights;
}

inline nlohmann::json waveNetDocument(const std::vector<ArrayShape>& shapes, const std::vector<float>& weights) {
    nlohmann::json layers = nlohmann::json::array();
    for (const ArrayShape& shape : shapes) {
        layers.push_back(arrayConfig(shape));
    }
    return {{"version", "0.5.4"},
            {"architecture", "WaveNet"},
            {"config", {{"layers", layers}, {"head", nullptr}, {"head_scale", 0.7}}},
            {"metadata", {{"loudness", -17.5}, {"input_level_dbu", 9.0}}},
            {"sample_rate", 48000},
            {"weights", weights}};
}

// The fast tanh that "Tanh" and "Fasttanh" name, in double precision.
inline double fastTanh(double x) {
    const double a = std::fabs(x);
    const double q = x * x;
    return x * ((0.89322984 + 0.82122666 * a) * q + 2.4555075 * (1.0 + a)) /
           (2.4450665 + std::fabs(x + 0.8146427 * x * a) * (q + 2.4450665));
}

inline double sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

inline double activate(const std::string& name, double x) {
    if (name == "Tanh" || name == "Fasttanh") {
        return fastTanh(x);
    }
    if (name == "Hardtanh") {
        return std::clamp(x, -1.0, 1.0);
    }
    if (name == "ReLU") {
        return x > 0.0 ? x : 0.0;
    }
    if (name == "LeakyReLU") {
        return x > 0.0 ? x : 0.01 * x;
    }
    if (name == "Sigmoid") {
        return sigmoid(x);
    }
    ADD_FAILURE() << "no reference for activation " << name;
    return 0.0;
}

class WeightTaker {
public:
    explicit WeightTaker(const std::vector<float>& weights) : weights(weights) {}
    double operator()() { return double(weights.at(position++)); }
    // rows x columns, row by row.
    Rows matrix(int rows, int columns) {
        auto result = Rows(std::size_t(rows), Signal(std::size_t(columns)));
        for (auto& row : result) {
            for (double& value : row) {
                value = (*this)();
            }
        }
        return result;
    }
    Signal vector(int size) {
        auto result = Signal(std::size_t(size));
        for (double& value : result) {
            value = (*this)();
        }
        return result;
    }
    std::size_t used() const { return position; }

private:
    const std::vector<float>& weights;
    std::size_t position = 0;
};

inline Rows multiply(const Rows& weights, const Rows& input) {
    const std::size_t frames = input.front().size();
    auto result = Rows(weights.size(), Signal(frames, 0.0));
    for (std::size_t i = 0; i < weights.size(); ++i) {
        for (std::size_t j = 0; j < input.size(); ++j) {
            for (std::size_t t = 0; t < frames; ++t) {
                result[i][t] += weights[i][j] * input[j][t];
            }
        }
    }
    return result;
}

// One layer array over the whole signal: returns its last layer's output; adds into head and replaces it by
// the head rechannel's output.
inline Rows referenceArray(const ArrayShape& shape, WeightTaker& take, const Rows& arrayInput, const Signal& condition,
                           Rows& head) {
    const int ch = shape.channels;
    const int rows = convolutionRows(shape);
    const std::size_t frames = condition.size();
    Rows u = multiply(take.matrix(ch, shape.inputSize), arrayInput);
    for (int dilation : shape.dilations) {
        // Tap k of output row i, input channel j: taps[k][i][j], read with the tap index fastest.
        std::vector<Rows> taps(std::size_t(shape.kernelSize), Rows(std::size_t(rows), Signal(std::size_t(ch))));
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < ch; ++j) {
                for (int k = 0; k < shape.kernelSize; ++k) {
                    taps[std::size_t(k)][std::size_t(i)][std::size_t(j)] = take();
                }
            }
        }
        const Signal convolutionBias = take.vector(rows);
        const Signal mixin = take.vector(rows);
        const Rows weights1x1 = take.matrix(ch, ch);
        const Signal bias1x1 = take.vector(ch);

        auto z = Rows(std::size_t(rows), Signal(frames, 0.0));
        for (int i = 0; i < rows; ++i) {
            for (std::size_t t = 0; t < frames; ++t) {
                double sum = convolutionBias[std::size_t(i)] + mixin[std::size_t(i)] * condition[t];
                for (int k = 0; k < shape.kernelSize; ++k) {
                    const std::int64_t source = std::int64_t(t) - std::int64_t(shape.kernelSize - 1 - k) * dilation;
                    if (source < 0) {
                        continue; // silence before the start
                    }
                    for (int j = 0; j < ch; ++j) {
                        sum += taps[std::size_t(k)][std::size_t(i)][std::size_t(j)] *
                               u[std::size_t(j)][std::size_t(source)];
                    }
                }
                z[std::size_t(i)][t] = sum;
            }
        }
        auto activated = Rows(std::size_t(ch), Signal(frames));
        for (int i = 0; i < ch; ++i) {
            for (std::size_t t = 0; t < frames; ++t) {
                double value = activate(shape.activation, z[std::size_t(i)][t]);
                if (shape.gated) {
                    value *= sigmoid(z[std::size_t(i + ch)][t]);
                }
                activated[std::size_t(i)][t] = value;
                head[std::size_t(i)][t] += value;
            }
        }
        Rows projected = multiply(weights1x1, activated);
        for (int i = 0; i < ch; ++i) {
            for (std::size_t t = 0; t < frames; ++t) {
                u[std::size_t(i)][t] += projected[std::size_t(i)][t] + bias1x1[std::size_t(i)];
            }
        }
    }
    Rows headOutput = multiply(take.matrix(shape.headSize, ch), head);
    if (shape.headBias) {
        const Signal bias = take.vector(shape.headSize);
        for (std::size_t i = 0; i < headOutput.size(); ++i) {
            for (double& value : headOutput[i]) {
                value += bias[i];
            }
        }
    }
    head = std::move(headOutput);
    return u;
}

inline std::vector<float> referenceWaveNet(const std::vector<ArrayShape>& shapes, const std::vector<float>& weights,
                                           const std::vector<float>& signal) {
    WeightTaker take(weights);
    const Signal condition(signal.begin(), signal.end());
    Rows input{condition};
    auto head = Rows(std::size_t(shapes.front().channels), Signal(condition.size(), 0.0));
    for (const ArrayShape& shape : shapes) {
        input = referenceArray(shape, take, input, condition, head);
    }
    const double headScale = take();
    EXPECT_EQ(take.used(), weights.size()) << "the reference consumed a different weight count";
    std::vector<float> output(signal.size());
    for (std::size_t t = 0; t < output.size(); ++t) {
        output[t] = float(headScale * head[0][t]);
    }
    return output;
}

inline std::int64_t receptiveField(const std::vector<ArrayShape>& shapes) {
    std::int64_t sum = 0;
    for (const ArrayShape& shape : shapes) {
        for (int dilation : shape.dilations) {
            sum += std::int64_t(shape.kernelSize - 1) * dilation;
        }
    }
    return sum;
}

// ---------------------------------------------------------------------------------------------------------
// LSTM

// Weights in file order; the forget gates lean open and the initial states are small but not zero.
inline std::vector<float> lstmWeights(int numLayers, int hiddenSize, std::uint32_t seed) {
    SeededUniform random(seed);
    std::vector<float> weights;
    const std::size_t h = std::size_t(hiddenSize);
    for (int layer = 0; layer < numLayers; ++layer) {
        const std::size_t inputs = layer == 0 ? 1 : h;
        const double scale = 1.5 / std::sqrt(double(inputs + h));
        for (std::size_t row = 0; row < 4 * h; ++row) {
            for (std::size_t column = 0; column < inputs + h; ++column) {
                weights.push_back(float(random(column < inputs && layer == 0 ? 2.0 : scale)));
            }
        }
        for (std::size_t row = 0; row < 4 * h; ++row) {
            const bool forget = row >= h && row < 2 * h;
            weights.push_back(float((forget ? 1.0 : 0.0) + random(0.3)));
        }
        for (std::size_t i = 0; i < 2 * h; ++i) {
            weights.push_back(float(random(0.3)));
        }
    }
    for (std::size_t i = 0; i < h; ++i) {
        weights.push_back(float(random(1.5 / std::sqrt(double(h)))));
    }
    weights.push_back(float(random(0.1)));
    return weights;
}

inline nlohmann::json lstmDocument(int numLayers, int hiddenSize, const std::vector<float>& weights) {
    return {{"version", "0.5.4"},
            {"architecture", "LSTM"},
            {"config", {{"num_layers", numLayers}, {"input_size", 1}, {"hidden_size", hiddenSize}}},
            {"metadata", {{"loudness", -21.0}}},
            {"sample_rate", 48000},
            {"weights", weights}};
}

// The LSTM from the file's initial states over the whole signal, with the exact logistic and tanh.
inline std::vector<float> referenceLstm(int numLayers, int hiddenSize, const std::vector<float>& weights,
                                        const std::vector<float>& signal) {
    struct Layer {
        Rows w;
        Signal b, h, c;
    };
    WeightTaker take(weights);
    const int h = hiddenSize;
    std::vector<Layer> layers;
    for (int layer = 0; layer < numLayers; ++layer) {
        const int inputs = layer == 0 ? 1 : h;
        Layer l;
        l.w = take.matrix(4 * h, inputs + h);
        l.b = take.vector(4 * h);
        l.h = take.vector(h);
        l.c = take.vector(h);
        layers.push_back(std::move(l));
    }
    const Signal headWeights = take.vector(h);
    const double headBias = take();
    EXPECT_EQ(take.used(), weights.size()) << "the reference consumed a different weight count";

    std::vector<float> output(signal.size());
    for (std::size_t t = 0; t < signal.size(); ++t) {
        Signal x{double(signal[t])};
        if (layers.empty()) {
            output[t] = signal[t];
            continue;
        }
        for (Layer& l : layers) {
            Signal joined = x;
            joined.insert(joined.end(), l.h.begin(), l.h.end());
            auto gates = Signal(std::size_t(4 * h));
            for (std::size_t row = 0; row < gates.size(); ++row) {
                double sum = l.b[row];
                for (std::size_t column = 0; column < joined.size(); ++column) {
                    sum += l.w[row][column] * joined[column];
                }
                gates[row] = sum;
            }
            for (std::size_t k = 0; k < std::size_t(h); ++k) {
                l.c[k] = sigmoid(gates[std::size_t(h) + k]) * l.c[k] +
                         sigmoid(gates[k]) * std::tanh(gates[2 * std::size_t(h) + k]);
            }
            for (std::size_t k = 0; k < std::size_t(h); ++k) {
                l.h[k] = sigmoid(gates[3 * std::size_t(h) + k]) * std::tanh(l.c[k]);
            }
            x = l.h;
        }
        double sum = headBias;
        for (std::size_t k = 0; k < std::size_t(h); ++k) {
            sum += headWeights[k] * x[k];
        }
        output[t] = float(sum);
    }
    return output;
}

// ---------------------------------------------------------------------------------------------------------
// Running models

inline std::unique_ptr<RuveroRidev::NeuralModel> fromDocument(const nlohmann::json& document,
                                                              const char* name = "runtime.nam") {
    std::istringstream stream(document.dump());
    return RuveroRidev::NeuralModel::CreateFromStream(stream, name);
}

// The signal's spread: a model that gives a constant would pass a loose comparison with a constant reference.
inline float spread(const std::vector<float>& signal) {
    const auto [low, high] = std::minmax_element(signal.begin(), signal.end());
    return *high - *low;
}

} // namespace runtimetest
