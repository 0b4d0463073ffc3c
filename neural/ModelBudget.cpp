#include "neural/ModelBudget.h"

#include "neural/ModelLimits.h"

#include <atomic>
#include <cstdio>
#include <utility>

namespace RuveroRidev {

namespace {

std::atomic<std::int64_t> reservedBytes{0};
std::atomic<std::int64_t> limitBytes{ModelLimits::totalModelBytes};

} // namespace

ModelBudget::Reservation::Reservation(Reservation&& other) noexcept : bytes(std::exchange(other.bytes, 0)) {}

ModelBudget::Reservation& ModelBudget::Reservation::operator=(Reservation&& other) noexcept {
    if (this != &other) {
        reservedBytes.fetch_sub(bytes);
        bytes = std::exchange(other.bytes, 0);
    }
    return *this;
}

ModelBudget::Reservation::~Reservation() { reservedBytes.fetch_sub(bytes); }

double ModelBudget::FrameShare(const NeuralModel& model) noexcept {
    const double cycles = double(model.MultiplyAddsPerSample()) * ModelLimits::deviceCyclesPerMultiplyAdd +
                          model.ActivationCyclesPerSample();
    return cycles * ModelLimits::sampleRate / ModelLimits::deviceClockHz;
}

bool ModelBudget::FitsFrame(const NeuralModel& model) noexcept {
    return FrameShare(model) <= ModelLimits::maxFrameShare;
}

bool ModelBudget::FitsFrame(const NeuralModel& model, std::string& reason) {
    if (FitsFrame(model)) {
        return true;
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "%lld multiply-adds per sample and their activations take %.0f %% of a frame on the device, "
                  "at most %.0f %%",
                  static_cast<long long>(model.MultiplyAddsPerSample()), 100.0 * FrameShare(model),
                  100.0 * ModelLimits::maxFrameShare);
    reason = text;
    return false;
}

bool ModelBudget::Reserve(const NeuralModel& model, const Reservation& replaced, Reservation& reservation) noexcept {
    const std::int64_t bytes = model.MemoryBytes();
    std::int64_t reserved = reservedBytes.load();
    do {
        if (reserved - replaced.bytes + bytes > limitBytes.load()) {
            return false;
        }
    } while (!reservedBytes.compare_exchange_weak(reserved, reserved + bytes));
    reservation.bytes = bytes;
    return true;
}

std::int64_t ModelBudget::Reserved() noexcept { return reservedBytes.load(); }

std::int64_t ModelBudget::Limit() noexcept { return limitBytes.load(); }

void ModelBudget::SetLimit(std::int64_t bytes) noexcept { limitBytes.store(bytes); }

} // namespace RuveroRidev
