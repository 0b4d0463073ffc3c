#pragma once
// The players' load-time checks of a built model: its cost against the frame on the device's core, and its
// memory against one budget that every loaded model of the process shares. Both numbers come from the model's
// shape (NeuralModel::MultiplyAddsPerSample, ActivationCyclesPerSample and MemoryBytes) and the limits in ModelLimits, so a model is
// accepted or refused alike on every machine and on every run. Called by the threads that load models, never
// by an audio thread.
#include "neural/NeuralModel.h"

#include <cstdint>
#include <string>

namespace RuveroRidev {

class ModelBudget {
public:
    // A share of the memory budget, held while its model is loaded and given back when destroyed.
    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;
        ~Reservation();

        std::int64_t Bytes() const noexcept { return bytes; }

    private:
        friend class ModelBudget;
        std::int64_t bytes = 0;
    };

    // The share of a frame the model would take on the device: its multiply-adds and its activations per
    // sample at the costs ModelLimits documents.
    static double FrameShare(const NeuralModel& model) noexcept;
    // True when that share is within ModelLimits::maxFrameShare.
    static bool FitsFrame(const NeuralModel& model) noexcept;
    // FitsFrame, or false with the reason the model is refused: the one rule of the players and of the check
    // an upload passes.
    static bool FitsFrame(const NeuralModel& model, std::string& reason);

    // Reserves the model's bytes into reservation (which must be empty) when all reserved bytes, less those
    // of replaced (the reservation of the model the new one is to replace), leave room for them within the
    // budget; false, with nothing reserved, otherwise.
    static bool Reserve(const NeuralModel& model, const Reservation& replaced, Reservation& reservation) noexcept;

    // Bytes reserved now, and the budget: ModelLimits::totalModelBytes unless SetLimit chose another (tests).
    static std::int64_t Reserved() noexcept;
    static std::int64_t Limit() noexcept;
    static void SetLimit(std::int64_t bytes) noexcept;
};

} // namespace RuveroRidev
