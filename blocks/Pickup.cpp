#include "blocks/Pickup.h"

#include <cmath>
#include <vector>

#include "audio/dsp/BiquadCoefficients.h"
#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

namespace {

using BQ = BiquadCoefficients;
const float kRate = Frame::kSampleRate;

// Each response moves the spectral balance one pickup kind is known for toward another's: humbuckers are
// fuller in the low mids and darker, single coils leaner with a brighter resonance, a piezo flat and airy
// with little midrange.
struct Response {
    const char* name;
    BQ sections[3];
};

const Response* responses(int& count) {
    static const Response table[] = {
        {"SC to HB",
         {BQ::lowShelf(kRate, 250.0f, 0.7071f, 3.0f), BQ::peaking(kRate, 2200.0f, 1.0f, 2.0f),
          BQ::highShelf(kRate, 4000.0f, 0.7071f, -6.0f)}},
        {"HB to SC",
         {BQ::lowShelf(kRate, 250.0f, 0.7071f, -3.0f), BQ::peaking(kRate, 700.0f, 0.8f, -2.0f),
          BQ::peaking(kRate, 4500.0f, 1.2f, 4.0f)}},
        {"Acoustic",
         {BQ::highPass(kRate, 70.0f, 0.7071f), BQ::peaking(kRate, 800.0f, 0.9f, -5.0f),
          BQ::highShelf(kRate, 5000.0f, 0.7071f, 6.0f)}},
    };
    count = int(sizeof table / sizeof table[0]);
    return table;
}

const Response& response(int index) {
    int count = 0;
    const Response* table = responses(count);
    return table[index < 0 || index >= count ? 0 : index];
}

std::vector<const char*> responseNames() {
    int count = 0;
    const Response* table = responses(count);
    std::vector<const char*> names;
    for (int i = 0; i < count; ++i) names.push_back(table[i].name);
    return names;
}

}

Pickup::Pickup(Node* folder, bool persist) : AudioBlock("Pickup", folder, exec, kFront) {
    onOff = BlockNodes::onOff(folder);
    model = BlockNodes::choice(folder, "type", "Type", responseNames(), response(0).name, true);
    level = BlockNodes::parameter(folder, "level", "Level", -12.0f, 12.0f, 0.0f, "dB", 1);
    if (persist) BlockNodes::store(folder);
}

void Pickup::setExtGain(float gain) {
    if (gain >= 0.0f) extGain.setTarget(gain);
}

bool Pickup::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    if (modelLatched.latch(model->getIndex())) sectionsPending = true;
    // A refused hand-over keeps the sections staged; try again on the next pass.
    if (sectionsPending) sectionsPending = !filter.setSections(response(modelLatched.get()).sections, 3);
    levelGain.setTarget(std::pow(10.0f, level->getValue() / 20.0f));
    return false;
}

bool Pickup::exec(void* block, float (*frame)[Frame::kSamples]) {
    Pickup* pickup = self<Pickup>(block);
    float* guitar = frame[0];
    const SmoothedValue::Ramp ext = pickup->extGain.nextFrame();
    if (!ext.isConstant() || ext.to != 1.0f) Frame::rampGain(guitar, ext.from, ext.to);
    if (!pickup->enabledFade.begin(pickup->enabled.get() != 0, frame, 1)) {
        pickup->running = false;
        return false;
    }
    if (!pickup->running) {
        pickup->running = true;
        pickup->filter.reset();
        pickup->levelGain.jumpToTarget();
    }
    pickup->filter.processCascade(guitar, Frame::kSamples);
    const SmoothedValue::Ramp levelRamp = pickup->levelGain.nextFrame();
    Frame::rampGain(guitar, levelRamp.from, levelRamp.to);
    pickup->enabledFade.end(frame);
    return false;
}
