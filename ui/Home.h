#pragma once
// The pedal's main screen: the bottom page of the page stack, built once by the product application and
// never closed. It shows the selected preset (name, bank number and letter, a mark while it is edited),
// the global tempo, the four knobs of encoders 2 to 5, the master volume and four peak meters. Two
// short-lived overlays replace parts of it: the value popup (the parameter just turned, large, for 6 ticks
// of 200 ms) and the assign view (an assigned block's tile and its fast nodes, for 40 ticks).
//
// Events: the main encoder sets the volume, steps presets while held and opens the chain screen on a short
// press; the footswitches select a preset of the bank, switch banks in pairs, tap the tempo on the selected
// preset's footswitch and (C held) switch the tuner on; encoders 2 to 5 turn the knobs (or the assigned
// block's parameters), their short presses show the assigns, and the long presses of encoders 2 and 3
// overwrite and save the preset as a new one.
//
// Threads: UI thread only. The meters and input bits are read without locks when drawing. All nodes belong
// to the tree; the page owns only its vectors.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/gfx/Gfx.h"
#include "ui/Listener.h"

class Node;
class NodeFloat;
class NodeItem;
class NodePreset;
class Tempo;
class Tuner;

class Home : public Listener {
public:
    // The value popup lasts this many ticks after the last edit, the assign view after it was opened or
    // its last edit.
    static constexpr int kPopupTicks = 6;
    static constexpr int kAssignTicks = 40;

    // app: the effect folders' parent (assign paths are resolved from it); root is only handed on to the
    // chain screen. preset and tempo are required; tuner may be null.
    Home(Node* app, Node* root, NodePreset* preset, Tuner* tuner, Tempo* tempo, std::vector<NodeItem*> assigns);

    void setTuner(Tuner* tuner) { this->tuner = tuner; }
    void setVolumeNode(NodeFloat* node) { volumeNode = node; }
    NodeFloat* getVolumeNode() const { return volumeNode; }
    void setLevelNode(NodeFloat* node) { levelNode = node; }
    // The knobs of encoders 2, 3, 4 and 5 in that order; null entries allowed.
    void setControls(NodeFloat* control2, NodeFloat* control3, NodeFloat* control4, NodeFloat* control5);
    void setNodes(Node* app, Node* root, NodePreset* preset);

    bool draw() override;
    bool onEvent(int id) override;

    // Steps fast node index (0..3) of the assign view; a float also shows the value popup in its own
    // colour. Keeps the assign view up either way.
    void editControl(int index, bool up);
    // The same; a negative index does nothing.
    void editAssign(int index, bool up);
    // Steps the node and shows it in the value popup with the bar in colour (0: the node's own colour).
    void editParam(NodeFloat* node, bool up, int colour);
    // What the tap-tempo page shows while it covers this screen: the node last edited meanwhile, else the
    // volume (encoder 1's); null when there is neither.
    Node* coveredEdit() const;
    // Opens the assign view of assign item index (0..3); -1 closes it; any other index does nothing.
    void showAssign(int index);

private:
    void showPopup(NodeFloat* node, uint32_t colour);
    void drawPopup();
    void drawHeader();
    void drawAssignView();
    void drawNormalView();
    void drawMeters(lv_obj_t* screen);
    void heldStep(bool up);
    void selectInBank(int footswitch);
    void switchBank(int offset);
    void tapIfSelected(int footswitch);
    void overwrite();
    void saveAs();
    void tick();
    bool tempoCounting() const;
    void noteEdit(Node* node);

    Node* app;
    Node* root;
    NodePreset* preset;
    Tuner* tuner;
    Tempo* tempo;
    NodeFloat* popupNode = nullptr;
    int32_t popupTicks = 0;
    uint32_t popupColor = 0;
    NodeFloat* volumeNode = nullptr;
    NodeFloat* levelNode = nullptr;
    NodeFloat* controls[4] = {};
    int32_t assignTicks = 0;
    Node* assignNode = nullptr;
    std::vector<Node*> fastNodes;
    std::vector<NodeItem*> assigns;
    int32_t encoderHeld = 0;
    Node* editedWhileCovered = nullptr;
};
