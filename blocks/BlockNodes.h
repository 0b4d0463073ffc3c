#pragma once
// The node shapes every effect block shares, built in one place so the screens and the controllers can rely
// on them:
// - the block folder's first child is its switch "on_off" (display name "Enable"), whose change fades the
//   audio around the recompile;
// - continuous parameters are linkable floats (a controller link, the expression pedal, can drive them);
// - tempo-synchronised choices sit in a sub-folder whose value is "partempo", which the fast-edit lists skip.
#include <vector>

class Node;
class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeOnOff;

class BlockNodes {
public:
    static constexpr const char* kTempoFolderValue = "partempo";

    // The "on_off" switch, off by default; call it before any other child of the folder.
    static NodeOnOff* onOff(Node* folder);
    // A linkable float with a linear slider.
    static NodeFloat* parameter(Node* folder, const char* key, const char* displayName, float min, float max, float def,
                                const char* unit, int decimals);
    // A choice; structural ones (a change of algorithm that cannot be crossfaded) fade the audio too.
    static NodeEnum* choice(Node* folder, const char* key, const char* displayName, std::vector<const char*> options,
                            const char* def, bool structural);
    // A plain sub-folder.
    static NodeItem* subFolder(Node* folder, const char* key, const char* displayName);
    // The sub-folder of tempo-synchronised parameters.
    static NodeItem* tempoFolder(Node* folder);
    // Registers every value node below the folder with Storage, in tree order.
    static void store(Node* folder);
};
