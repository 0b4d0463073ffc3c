#include "neural/LstmCell.h"

#include "neural/WeightReader.h"

namespace RuveroRidev {

LstmCell::LstmCell(int inputSize, int hiddenSize)
    : inputSize(inputSize),
      hiddenSize(hiddenSize),
      weights(Eigen::MatrixXf::Zero(4 * hiddenSize, inputSize + hiddenSize)),
      bias(Eigen::VectorXf::Zero(4 * hiddenSize)),
      inputAndHidden(Eigen::VectorXf::Zero(inputSize + hiddenSize)),
      gates(Eigen::VectorXf::Zero(4 * hiddenSize)),
      cell(Eigen::VectorXf::Zero(hiddenSize)),
      initialHidden(Eigen::VectorXf::Zero(hiddenSize)),
      initialCell(Eigen::VectorXf::Zero(hiddenSize)),
      savedHidden(Eigen::VectorXf::Zero(hiddenSize)),
      savedCell(Eigen::VectorXf::Zero(hiddenSize)) {}

std::int64_t LstmCell::NumWeights(int inputSize, int hiddenSize) noexcept {
    const std::int64_t rows = 4 * std::int64_t(hiddenSize);
    return rows * (inputSize + hiddenSize) + rows + 2 * std::int64_t(hiddenSize);
}

std::int64_t LstmCell::NumFloats(int inputSize, int hiddenSize) noexcept {
    // Weights, gates, the joined input and hidden vector, and the cell, initial and saved states.
    return NumWeights(inputSize, hiddenSize) + 4 * std::int64_t(hiddenSize) + inputSize + 5 * std::int64_t(hiddenSize);
}

std::int64_t LstmCell::MultiplyAddsPerSample(int inputSize, int hiddenSize) noexcept {
    return 4 * std::int64_t(hiddenSize) * (inputSize + hiddenSize) + 2 * std::int64_t(hiddenSize);
}

void LstmCell::SetWeights(WeightReader& reader) {
    reader.ReadRowByRow(weights);
    reader.ReadVector(bias);
    reader.ReadVector(initialHidden);
    reader.ReadVector(initialCell);
    ResetState();
}

void LstmCell::Step(const float* input) noexcept {
    const Eigen::Index h = hiddenSize;
    inputAndHidden.head(inputSize) = Eigen::Map<const Eigen::VectorXf>(input, inputSize);
    gates.noalias() = weights * inputAndHidden;
    gates += bias;
    auto values = gates.array();
    // i and f side by side, then g, then o.
    values.head(2 * h) = values.head(2 * h).logistic();
    values.segment(2 * h, h) = values.segment(2 * h, h).tanh();
    values.tail(h) = values.tail(h).logistic();
    cell.array() = values.segment(h, h) * cell.array() + values.head(h) * values.segment(2 * h, h);
    inputAndHidden.tail(h).array() = values.tail(h) * cell.array().tanh();
}

void LstmCell::ResetState() noexcept {
    inputAndHidden.tail(hiddenSize) = initialHidden;
    cell = initialCell;
}

void LstmCell::SaveState() noexcept {
    savedHidden = inputAndHidden.tail(hiddenSize);
    savedCell = cell;
}

float LstmCell::StateChange() const noexcept {
    const auto relative = [](const auto& now, const auto& before) {
        return ((now.array() - before.array()).abs() / now.array().abs().max(1.0f)).maxCoeff();
    };
    return std::max(relative(inputAndHidden.tail(hiddenSize), savedHidden), relative(cell, savedCell));
}

} // namespace RuveroRidev
