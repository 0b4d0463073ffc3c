#pragma once
// The product application of the full application: builds the product's parameter tree, the effect chain in
// the order that yields its processing order, the MIDI bindings and the multi controllers, and the tempo and
// tuner pages. It is itself a block of the chain (between the tempo and the cabinet), whose process function
// does nothing: its compile() turns the product's own settings into hardware state (preset LEDs, ground-lift
// relay, headphone mode on the panel's output array) and into the output and input gains.
//
// Threads: constructed once by main before any audio, UI or transport thread runs; compile() runs on the
// compile thread. Everything it creates lives until the process ends.
#include <vector>

#include "audio/AudioBlock.h"

class DelayEngine;
class DynaComp;
class Expr;
class IrLoader;
class LindquarBsp;
class Mixer;
class ModulationsEngine;
class Node;
class NodeColor;
class NodeControlMidiPC;
class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeList;
class NodeOnOff;
class NodePreset;
class NoiseGate;
class Pickup;
class RedIzuzir;
class ReverbFDN;
class Tempo;
class Tuner;

class Lindquar : public AudioBlock {
public:
    static constexpr int kPresetSlots = 60;
    static constexpr int kPresetSlotBytes = 16384;
    // The group number the preset list reports in its description.
    static constexpr int kPresetGroup = 3;
    static constexpr int kAssignCount = 4;
    static constexpr int kMultiLinks = 3;

    // app: the "app" node (the effect folders go there); root: the tree's root.
    Lindquar(Node* app, Node* root);

    // Every compile pass: the panel outputs, then the gains. Always false (the pass goes on).
    bool compile() override;
    static bool exec(void* block, float (*frame)[16]);

    // Output gain of the chain and of input 2 (before its digital gain); 0 until the first compile.
    float getMainGain() const { return mainGain; }
    float getAuxGain() const { return auxGain; }

    // The exponential part of the volume curve shared by the master and input-2 volumes; scaled so that
    // 0 % gives 0, 50 % about 0.15 and 100 % unity.
    static float volumeExponential(float percent);

    // The board object, the chain's blocks and the product's own nodes, for the pages that show them. Set by
    // the constructor, never changed afterwards.
    LindquarBsp* bsp = nullptr;
    IrLoader* irLoader = nullptr;
    RedIzuzir* namAmp = nullptr;
    RedIzuzir* namDrive = nullptr;
    NoiseGate* noiseGate = nullptr;
    ReverbFDN* reverb = nullptr;
    DelayEngine* delay = nullptr;
    DynaComp* dynaComp = nullptr;
    Expr* expr = nullptr;
    ModulationsEngine* modPost = nullptr;
    ModulationsEngine* modPre = nullptr;
    Tuner* tuner = nullptr;
    Tempo* tempo = nullptr;
    Pickup* pickup = nullptr;
    Mixer* mixer = nullptr;
    NodeList* presetList = nullptr;
    NodePreset* presetNode = nullptr;
    NodeFloat* volume = nullptr;
    NodeFloat* auxVolume = nullptr;
    NodeFloat* level = nullptr;
    NodeFloat* gain1 = nullptr;
    NodeFloat* gain2 = nullptr;
    NodeColor* presetColor = nullptr;
    NodeFloat* presetTempo = nullptr;
    NodeOnOff* groundLift = nullptr;
    NodeEnum* headphones = nullptr;
    std::vector<NodeItem*> assigns;

private:
    struct Folders;
    void buildFolders(Node* app, Node* root, Folders& folders);
    void buildOutput(Folders& folders);
    void buildChain(Node* root, Folders& folders);
    void buildBindings(Node* root, Folders& folders);
    void writePanelOutputs();

    NodeEnum* midiAddress = nullptr;
    NodeControlMidiPC* programChange = nullptr;
    float mainGain = 0.0f;
    float auxGain = 0.0f;
};
