#pragma once
#include "nnet/NnetExport.h"

#include <Eigen/Dense>
#include <string>
#include <unordered_map>

namespace nnet::activations {

// A stateless element-wise non-linearity applied in place. The matrix and block forms hand their
// coefficients to the element form as one contiguous run, which holds for a whole matrix, for whole columns
// of a column-major matrix and for part of one column.
class NNET_API Activation {
public:
    constexpr Activation() = default;
    virtual ~Activation();

    virtual void apply(Eigen::MatrixXf& matrix);
    virtual void apply(Eigen::Block<Eigen::MatrixXf, -1, -1, false> block);
    virtual void apply(Eigen::Block<Eigen::MatrixXf, -1, -1, true> block);
    virtual void apply(float* data, long size) = 0;

    // The registry entry for the name (case matters), or null; never inserts.
    static Activation* get_activation(std::string name);
    // Makes "Tanh" resolve to the fast tanh and tells the LSTM cell to use it.
    static void enable_fast_tanh();
    static void disable_fast_tanh();

    // Not guarded by a lock: switch only while no other thread looks names up, builds a model or runs one.
    static std::unordered_map<std::string, Activation*> _activations;
    static bool using_fast_tanh;
};

} // namespace nnet::activations
