#include "neural/Activation.h"

#include <stdexcept>

namespace RuveroRidev {

Activation Activation::FromName(const std::string& name) {
    static constexpr struct {
        const char* name;
        Kind kind;
    } names[] = {
        {"Tanh", Kind::Tanh}, {"Fasttanh", Kind::FastTanh},   {"Hardtanh", Kind::HardTanh},
        {"ReLU", Kind::ReLU}, {"LeakyReLU", Kind::LeakyReLU}, {"Sigmoid", Kind::Sigmoid},
    };
    for (const auto& entry : names) {
        if (name == entry.name) {
            return Activation{entry.kind};
        }
    }
    throw std::invalid_argument("unknown activation \"" + name + "\"");
}

} // namespace RuveroRidev
