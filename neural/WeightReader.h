#pragma once
// Reads a model file's flat "weights" list front to back, one float at a time, straight from the parsed
// document. The list must hold exactly the count the configuration implies: a shorter or longer one means the
// file does not describe the network it claims to, and is refused before anything reads it.
#include <nlohmann/json.hpp>

#include <Eigen/Core>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace RuveroRidev {

class WeightReader {
public:
    // Refuses (std::invalid_argument) a "weights" member that is not a list of exactly count entries.
    WeightReader(const nlohmann::json& weights, std::int64_t count) : weights(weights) {
        if (!weights.is_array()) {
            throw std::invalid_argument("\"weights\" must be a list of numbers");
        }
        if (std::int64_t(weights.size()) != count) {
            throw std::invalid_argument("\"weights\" holds " + std::to_string(weights.size()) +
                                        " numbers, the configuration needs " + std::to_string(count));
        }
    }

    // The next weight. Refuses an entry that is not a number or does not stay finite as a float: one such value
    // would turn the model's whole output, and a recurrent model's state for good, into NaN.
    float Next() {
        const nlohmann::json& entry = weights[std::size_t(position)];
        const float value = entry.is_number() ? entry.get<float>() : NAN;
        if (!std::isfinite(value)) {
            throw std::invalid_argument("weight " + std::to_string(position) + " is not a finite float");
        }
        ++position;
        return value;
    }

    // Output row by output row, input column fastest.
    template <class Matrix>
    void ReadRowByRow(Matrix&& matrix) {
        for (Eigen::Index row = 0; row < matrix.rows(); ++row) {
            for (Eigen::Index column = 0; column < matrix.cols(); ++column) {
                matrix(row, column) = Next();
            }
        }
    }

    template <class Vector>
    void ReadVector(Vector&& vector) {
        for (Eigen::Index i = 0; i < vector.size(); ++i) {
            vector(i) = Next();
        }
    }

    std::int64_t Position() const noexcept { return position; }

private:
    const nlohmann::json& weights;
    std::int64_t position = 0;
};

} // namespace RuveroRidev
