#include "board/Lindquar.h"

#include <cmath>
#include <string>

#include "audio/AudioProcessor.h"
#include "blocks/DelayEngine.h"
#include "ui/DrawerTempo.h"
#include "ui/DrawerTuner.h"
#include "blocks/DynaComp.h"
#include "blocks/Expr.h"
#include "ui/Home.h"
#include "nolt/driver/IOArray.h"
#include "blocks/IrLoader.h"
#include "board/ChainTable.h"
#include "board/LindquarBsp.h"
#include "blocks/Mixer.h"
#include "blocks/ModulationsEngine.h"
#include "core/NodeColor.h"
#include "core/NodeControlMidiCC.h"
#include "core/NodeControlMidiPC.h"
#include "core/NodeControlMulti.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "blocks/NoiseGate.h"
#include "blocks/Pickup.h"
#include "board/ProductInfo.h"
#include "blocks/RedIzuzir.h"
#include "blocks/ReverbFDN.h"
#include "core/Storage.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

namespace {
// Every float of the product has a linear slider and is not inverted.
constexpr float kLinear = 0.5f;

// Constants of the output stage, as single-precision values.
constexpr float kDbToExponent = 0.05f;
constexpr float kPercent = 0.01f;
constexpr float kVolumeCurve = 3.469202f;
// 1 / (e^3.469202 - 1): full volume is unity gain.
constexpr double kVolumeScale = 0.032142857580768826;
// Fixed trim of both inputs after their digital gain.
constexpr float kInputTrim = 1.334f;

// Outputs of the panel's output array.
enum class Component { Red, Green, Blue };
struct LedOutput {
    int line;
    Component component;
};
// The three RGB preset LEDs; preset index i lights LED i mod 3, in the preset's colour.
constexpr LedOutput kPresetLeds[3][3] = {
    {{10, Component::Blue}, {11, Component::Green}, {12, Component::Red}},
    {{13, Component::Blue}, {14, Component::Green}, {15, Component::Red}},
    {{0, Component::Red}, {1, Component::Blue}, {2, Component::Green}},
};
constexpr int kGroundLiftLine = 8;
constexpr int kHeadphoneModeLine = 9;
// A colour byte becomes a duty of 0..31 out of the array's PWM depth of 32.
constexpr int kColorToDutyShift = 3;
constexpr int kNoPwm = -1;

NodeItem* makeFolder(Node* parent, const char* key, const char* displayName, const char* itemType) {
    return new NodeItem(parent, key, displayName, "", itemType);
}

float dbToLinear(float db) { return std::pow(10.0f, db * kDbToExponent); }
}

struct Lindquar::Folders {
    ChainTable::Built chain;
    NodeItem* block(const char* key) const { return chain.folder(key); }
    NodeItem* tuner = nullptr;
    NodeItem* pickup = nullptr;
    NodeItem* misc = nullptr;
    NodeItem* pst = nullptr;
};

Lindquar::Lindquar(Node* app, Node* root) : AudioBlock("Lindquar", app, exec, kBack) {
    bsp = new LindquarBsp();
    ProductInfo::setInfoData();

    presetList = new NodeList(root, "presets", "Presets", "pst_pst", kPresetSlotBytes, kPresetSlots);
    presetList->setGroup(kPresetGroup);
    presetNode = new NodePreset(app, "preset", "Preset", "", presetList);

    Folders folders;
    buildFolders(app, root, folders);
    buildOutput(folders);
    buildChain(root, folders);
    buildBindings(root, folders);

    // Registered only now: restoring the selected preset loads it, which needs every block and binding.
    Storage::addItem(presetNode);
    Storage::addItem(midiAddress);
    Storage::addItem(programChange);

    groundLift = new NodeOnOff(folders.misc, "lift", "Ground Lift", NodeOnOff::OFF);
    headphones = new NodeEnum(folders.misc, "headp", "Headphones", {"STEREO", "MONO/L"}, "STEREO");
    Storage::addItem(groundLift);
    Storage::addItem(headphones);
    Storage::addItem(gain1);
    Storage::addItem(gain2);

    // Set after the restore above, so the start-up load does not ask for a fade.
    presetNode->setOnChange(AudioProcessor::debounce);

    Home* home = new Home(app, nullptr, presetNode, tuner, tempo, assigns);
    (new DrawerTempo(tempo))->setHome(home);
    new DrawerTuner(tuner);
    home->setControls(namAmp->getLow(), namAmp->getMid(), namAmp->getTreble(), namAmp->getGain());
    home->setVolumeNode(volume);
    home->setLevelNode(level);
    home->setTuner(tuner);
}

void Lindquar::buildFolders(Node* app, Node* root, Folders& folders) {
    ChainTable::buildFolders(app, folders.chain);

    Node* settings = makeFolder(root, "settings", "Settings", "sfolder");
    folders.tuner = makeFolder(settings, "tuner", "Tuner", "hfolder");
    NodeItem* input = makeFolder(settings, "input", "Input", "hfolder");
    gain1 = new NodeFloat(input, "gain1", "In 1 digital gain", -15, 15, 6, "dB", kLinear, false, 1);
    gain2 = new NodeFloat(input, "gain2", "In 2 digital gain", -15, 15, 6, "dB", kLinear, false, 1);
    folders.pickup = makeFolder(input, "pickup", "Pickup Simulator", "vfolder");
    folders.misc = makeFolder(settings, "misc", "Misc", "hfolder");
}

void Lindquar::buildOutput(Folders& folders) {
    NodeItem* output = folders.block("output");
    tempo = new Tempo(output, presetNode);
    volume = new NodeFloat(output, "vol", "Volume", 0, 100, 50, "%", kLinear, false, 0);
    auxVolume = new NodeFloat(output, "aux", "IN 2 Volume", 0, 100, 50, "%", kLinear, false, 0);
    folders.pst = makeFolder(output, "pst", "Preset Specific", "vfolder");
    level = new NodeFloat(folders.pst, "level", "Level", -20, 20, 0, "dB", kLinear, false, 1);
    presetTempo = new NodeFloat(folders.pst, "tmp", "Preset TEMPO", 30, 240, 120, "BPM", kLinear, false, 1);
    presetColor = new NodeColor(folders.pst, "color", "Preset Color", "00AA00");

    tempo->addTempoSource(presetTempo, "Preset");
    // The master and input-2 volumes belong to the room, not to the sound: a preset leaves them alone.
    presetNode->addIgnoreNode(volume);
    presetNode->addIgnoreNode(auxVolume);
    Storage::addItem(volume);
    Storage::addItem(auxVolume);
}

void Lindquar::buildChain(Node* root, Folders& folders) {
    ChainTable::Context context;
    context.root = root;
    context.preset = presetNode;
    context.tempo = tempo;
    context.tunerFolder = folders.tuner;
    context.pickupFolder = folders.pickup;
    context.productFolder = getFolder();
    ChainTable::buildBlocks(context, folders.chain);
    const ChainTable::Built& chain = folders.chain;
    namAmp = chain.as<RedIzuzir>("amp");
    namDrive = chain.as<RedIzuzir>("drive");
    modPre = chain.as<ModulationsEngine>("mod_pre");
    dynaComp = chain.as<DynaComp>("comp");
    expr = chain.as<Expr>("exp");
    noiseGate = chain.as<NoiseGate>("gate");
    tuner = chain.as<Tuner>("tuner");
    pickup = chain.as<Pickup>("pickup");
    irLoader = chain.as<IrLoader>("ir");
    modPost = chain.as<ModulationsEngine>("mod");
    delay = chain.as<DelayEngine>("delay");
    reverb = chain.as<ReverbFDN>("reverb");
    mixer = chain.as<Mixer>("mixer");
}

void Lindquar::buildBindings(Node* root, Folders& folders) {
    for (int i = 1; i <= kAssignCount; ++i) {
        const std::string key = "assign" + std::to_string(i);
        // The display name is spelled this way on every device in the field; clients match on it.
        const std::string displayName = "assing" + std::to_string(i);
        assigns.push_back(new NodeItem(root, key.c_str(), displayName.c_str(), "", "string"));
    }
    for (NodeItem* assign : assigns) Storage::addItem(assign);

    midiAddress =
        new NodeEnum(folders.misc, "midi_a", "MIDI Address",
                     {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15"}, "0");
    programChange = new NodeControlMidiPC(root, "cpst", "Midi PC", presetNode, 0, midiAddress);

    // Control change n switches ccTargets[n - 1].
    Node* const ccTargets[] = {
        namDrive->getOnOff(),  modPre->getOnOff(),  namAmp->getOnOff(),         irLoader->getOnOff(),
        reverb->getOnOff(),    modPost->getOnOff(), modPost->getTremoloOnOff(), dynaComp->getOnOff(),
        noiseGate->getOnOff(), delay->getOnOff(),   tuner->getOnOff(),
    };
    int cc = 1;
    for (Node* target : ccTargets) {
        const std::string key = "_cc" + std::to_string(cc);
        new NodeControlMidiCC(root, key.c_str(), "Midi CC", target, cc, midiAddress);
        ++cc;
    }

    NodeItem* controller1 = new NodeItem(folders.pst, "ctl1", "Controller 1", "mctrl", "module");
    new NodeControlMulti(root, "multi1", "Control", midiAddress, controller1, presetNode, kMultiLinks);
    NodeItem* controller2 = new NodeItem(folders.pst, "ctl2", "Controller 2", "mctrl", "module");
    new NodeControlMulti(root, "multi2", "Control", midiAddress, controller2, presetNode, kMultiLinks);
}

float Lindquar::volumeExponential(float percent) { return std::exp(percent * kPercent * kVolumeCurve) - 1.0f; }

void Lindquar::writePanelOutputs() {
    const int index = presetNode->getIndex();
    for (int led = 0; led < 3; ++led) {
        const bool lit = index >= 0 && index % 3 == led;
        for (const LedOutput& output : kPresetLeds[led]) {
            int component = 0;
            if (lit) {
                component = output.component == Component::Red     ? presetColor->getR()
                            : output.component == Component::Green ? presetColor->getG()
                                                                   : presetColor->getB();
            }
            IOArray::set_bit(output.line, 1);
            IOArray::set_pwm(output.line, component >> kColorToDutyShift);
        }
    }
    IOArray::set_bit(kGroundLiftLine, groundLift->isOn());
    IOArray::set_pwm(kGroundLiftLine, kNoPwm);
    IOArray::set_bit(kHeadphoneModeLine, headphones->isValue("MONO/L"));
    IOArray::set_pwm(kHeadphoneModeLine, kNoPwm);
}

bool Lindquar::compile() {
    writePanelOutputs();

    const float levelGain = dbToLinear(level->getValue());
    mainGain = float(double(levelGain) * kVolumeScale * double(volumeExponential(volume->getValue())));
    auxGain = float(double(volumeExponential(auxVolume->getValue())) * kVolumeScale);

    pickup->setExtGain(dbToLinear(gain1->getValue()) * kInputTrim);
    const float input2 = auxGain * kInputTrim * dbToLinear(gain2->getValue());
    mixer->setMixerValue(mainGain, mainGain, 0, 0, 0, input2, 0, input2);
    return false;
}

bool Lindquar::exec(void*, float (*)[16]) { return false; }
