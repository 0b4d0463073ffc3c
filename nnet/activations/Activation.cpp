#include "nnet/activations/Activation.h"

#include "nnet/activations/ActivationFastTanh.h"
#include "nnet/activations/ActivationHardTanh.h"
#include "nnet/activations/ActivationLeakyReLU.h"
#include "nnet/activations/ActivationReLU.h"
#include "nnet/activations/ActivationSigmoid.h"
#include "nnet/activations/ActivationTanh.h"

namespace nnet::activations {

namespace {

// One shared instance per activation; the registry borrows them and nobody deletes them.
constinit ActivationTanh tanhInstance;
constinit ActivationHardTanh hardTanhInstance;
constinit ActivationFastTanh fastTanhInstance;
constinit ActivationReLU reluInstance;
constinit ActivationLeakyReLU leakyReluInstance;
constinit ActivationSigmoid sigmoidInstance;

// The "Tanh" entry displaced while the fast tanh is switched on.
Activation* tanhBackup = nullptr;

} // namespace

std::unordered_map<std::string, Activation*> Activation::_activations = {
    {"Tanh", &tanhInstance}, {"Hardtanh", &hardTanhInstance},   {"Fasttanh", &fastTanhInstance},
    {"ReLU", &reluInstance}, {"LeakyReLU", &leakyReluInstance}, {"Sigmoid", &sigmoidInstance},
};

bool Activation::using_fast_tanh = true;

Activation::~Activation() = default;

void Activation::apply(Eigen::MatrixXf& matrix) { apply(matrix.data(), matrix.size()); }

void Activation::apply(Eigen::Block<Eigen::MatrixXf, -1, -1, false> block) {
    if (block.cols() <= 1 || block.rows() == block.outerStride()) {
        apply(block.data(), block.size());
        return;
    }
    // Rows cut out of several columns are not one run; treating them as one would overwrite the
    // coefficients between the columns.
    for (Eigen::Index column = 0; column < block.cols(); ++column) apply(block.col(column).data(), block.rows());
}

void Activation::apply(Eigen::Block<Eigen::MatrixXf, -1, -1, true> block) { apply(block.data(), block.size()); }

Activation* Activation::get_activation(std::string name) {
    const auto entry = _activations.find(name);
    return entry == _activations.end() ? nullptr : entry->second;
}

void Activation::enable_fast_tanh() {
    using_fast_tanh = true;
    if (_activations["Tanh"] != _activations["Fasttanh"]) {
        tanhBackup = _activations["Tanh"];
        _activations["Tanh"] = _activations["Fasttanh"];
    }
}

void Activation::disable_fast_tanh() {
    using_fast_tanh = false;
    if (_activations["Tanh"] == _activations["Fasttanh"]) _activations["Tanh"] = tanhBackup;
}

} // namespace nnet::activations
