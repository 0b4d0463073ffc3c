#pragma once
// The neural amp model as its player sees it: a mono block processor with the loudness and level metadata of
// its model file. Models are built from a model file by CreateFromStream; the player owns them.
//
// Threads: loading, Prewarm and deletion run on the thread that loads models; Process runs on the player's
// audio thread. A model has no lock: its owner never lets the two threads into the same model at once.
// Process and Prewarm allocate nothing, lock nothing and throw nothing.
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>

namespace RuveroRidev {

class NeuralModel {
public:
    // The level, in dBu, that a full-scale input sample stands for on this device.
    static constexpr float audioInputLevelDBu = 12.0f;
    // The block size that loaders announce through SetMaxAudioBufferSize.
    static constexpr int defaultMaxAudioBufferSize = 128;
    // The most a model file's level metadata may move a player's gain, either way, in dB. Real captures sit
    // within a few tens of dB of the device's levels; a file asking for more would blast or mute the chain.
    static constexpr float maxAdjustmentDb = 40.0f;
    // The top of the drive a player puts before the model, in dB.
    static constexpr float maxDriveDb = 20.0f;

    // Level metadata of the model file; ReadNAMConfig overrides the defaults with the numbers the file has.
    float inputLevelDBu = 12.0f;
    float outputLevelDBu = 12.0f;
    float loudness = -18.0f;
    float sampleRate = 48000.0f;

    NeuralModel() = default;
    NeuralModel(const NeuralModel&) = delete;
    NeuralModel& operator=(const NeuralModel&) = delete;

    virtual ~NeuralModel();
    virtual int GetLoadMode() const noexcept;
    virtual bool IsStatic() const noexcept;
    virtual void SetMaxAudioBufferSize(int maxSize) = 0;
    // Gain in dB that brings a full-scale input to the level the model was trained at.
    virtual float GetRecommendedInputDBAdjustment() const noexcept;
    // Gain in dB that brings the model's output to a common loudness of -18 dB.
    virtual float GetRecommendedOutputDBAdjustment() const noexcept;
    // The linear gains a player applies before and after the model: the recommended adjustments held within
    // maxAdjustmentDb, and unity for one that is not finite.
    float InputGain() const noexcept;
    float OutputGain() const noexcept;
    // True when both recommended adjustments are within maxAdjustmentDb; otherwise false with the reason.
    bool AdjustmentsInRange(std::string& reason) const;
    virtual float GetSampleRate() const noexcept;
    // Samples of input that reach one output sample; -1 when unknown.
    virtual int GetReceptiveFieldSize() const noexcept;
    // What the loaded network costs, computed from its shape alone (so the same on every machine): the
    // multiply-adds Process spends per sample, and the bytes the model holds (weights, layer histories,
    // working buffers). 0 before a load.
    virtual std::int64_t MultiplyAddsPerSample() const noexcept;
    virtual std::int64_t MemoryBytes() const noexcept;
    // Device cycles the activations of one sample take (ModelLimits gives each kind's cost); 0 before a load.
    virtual double ActivationCyclesPerSample() const noexcept;
    // Turns numFrames input samples into numFrames output samples; input and output may be the same array.
    virtual void Process(float* input, float* output, unsigned long numFrames) noexcept = 0;
    // Settles the model into the state that an endless silent input leaves, so the next block starts without
    // a transient. Allocates nothing.
    virtual void Prewarm() noexcept;
    virtual bool CreateModelFromKerasJson(const nlohmann::json& modelJson) = 0;
    virtual bool LoadFromNAMJson(const nlohmann::json& modelJson) = 0;
    virtual bool CreateModelFromNAMJson(const nlohmann::json& modelJson) = 0;

    // Reads "sample_rate" and, under "metadata", "loudness", "input_level_dbu" and "output_level_dbu" into the
    // fields. A member that is absent, not a finite number (or, for the sample rate, not positive) keeps the
    // field as it is. Never throws.
    void ReadNAMConfig(const nlohmann::json& modelJson) noexcept;

    // Parses a model file and builds its model, prewarmed. A malformed document throws the JSON library's
    // exception; a model whose weights do not fit its network throws as well (std::exception in every case).
    // A document of no shape that this library runs gives null after one log line. The path only names the
    // file in that line.
    static std::unique_ptr<NeuralModel> CreateFromStream(std::istream& stream, std::filesystem::path path);
};

} // namespace RuveroRidev
