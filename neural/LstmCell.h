#pragma once
// One LSTM layer, stepped one sample at a time. Gate rows are in the order input i, forget f, cell candidate
// g, output o; each step computes
//   [i f g o] = W [x; h] + b,  c = sigma(f) c + sigma(i) tanh(g),  h = sigma(o) tanh(c).
// The gates use the exact logistic and tanh (to single precision): a gate that could exceed 1 would let the
// cell state of a saturated forget gate grow without bound.
#include <Eigen/Core>

#include <cstdint>

namespace RuveroRidev {

class WeightReader;

class LstmCell {
public:
    // Allocates every vector and matrix; the weights and initial state are read by SetWeights.
    LstmCell(int inputSize, int hiddenSize);

    // Floats that SetWeights consumes: 4H (I + H) weights, 4H biases, H initial hidden and H initial cell values.
    static std::int64_t NumWeights(int inputSize, int hiddenSize) noexcept;
    static std::int64_t NumFloats(int inputSize, int hiddenSize) noexcept;
    static std::int64_t MultiplyAddsPerSample(int inputSize, int hiddenSize) noexcept;

    // W row by row (the input columns first, then the hidden ones), b, the initial hidden state, the initial
    // cell state; the state starts at the initial values.
    void SetWeights(WeightReader& reader);

    // One time step on inputSize floats.
    void Step(const float* input) noexcept;

    // hiddenSize floats: the hidden state after the last step.
    const float* Hidden() const noexcept { return inputAndHidden.data() + inputSize; }

    // Back to the initial state the model file stores.
    void ResetState() noexcept;
    // Keeps the current state, for StateChange.
    void SaveState() noexcept;
    // The largest change of a hidden or cell value since SaveState, relative to the value once it exceeds 1.
    float StateChange() const noexcept;

private:
    int inputSize;
    int hiddenSize;
    Eigen::MatrixXf weights;        // 4H x (I + H)
    Eigen::VectorXf bias;           // 4H
    Eigen::VectorXf inputAndHidden; // I + H: the step's input, then the hidden state
    Eigen::VectorXf gates;          // 4H
    Eigen::VectorXf cell;           // H
    Eigen::VectorXf initialHidden;
    Eigen::VectorXf initialCell;
    Eigen::VectorXf savedHidden;
    Eigen::VectorXf savedCell;
};

} // namespace RuveroRidev
