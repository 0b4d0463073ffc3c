#pragma once
// The signal-chain screen, opened from the home screen by a short press of the main encoder. One tile per
// effect block in chain order on a horizontal strip, and a cursor that walks from the preset (no tile
// selected) over the tiles. With a tile selected, encoders 2 to 5 edit the block's first four directly
// editable parameters (its fast nodes), the main encoder's long press switches the block on or off, its
// short press opens the block's parameter page, and a long press of encoder 2 to 5 assigns the block to one
// of the home screen's four assigns. With no tile selected the encoders step the preset, open the preset
// list, and set the preset level and the master volume. A short press of encoder 2, or 30 s without encoder
// activity, closes the screen.
//
// Threads: UI thread only. The page owns its vectors; every node belongs to the tree.
#include <string>
#include <vector>

#include "ui/gfx/Gfx.h"
#include "ui/Listener.h"

class Node;
class NodeEnum;
class NodeFloat;
class NodeItem;
class NodePreset;

class Chain : public Listener {
public:
    // app: its "hfolder" children are the blocks, those whose first child is an "on_off" switch get tiles;
    // the last one without such a switch is the folder opened with no tile selected. root is kept for the
    // callers that hand it on. assigns: the home screen's four assign items (block-folder paths).
    Chain(Node* app, Node* root, NodePreset* preset, NodeFloat* level, NodeFloat* volume,
          std::vector<NodeItem*> assigns);

    // Replaces the three nodes and deselects the tile; the block lists stay as they are.
    void setNodes(Node* app, Node* root, NodePreset* preset);
    // Assigns the selected block to assign item i (0..3), taking it out of every other assign item. Nothing
    // with no tile selected.
    void assignCursor(int i);

    bool draw() override;
    bool onEvent(int id) override;

    // One block tile, 55 x 55 with its top-left corner at (x, y), over a line that joins it to its
    // neighbours; selected tiles get a white glow; corner is the small text at the bottom right (the assign
    // number). colour is 0xRRGGBB.
    static void createBlock(lv_obj_t* parent, int x, int y, int colour, const char* name, bool selected,
                            const char* corner);
    // The parameters of a block that the encoders edit directly: its children that are not folders, then the
    // children of each sub-folder (except tempo sub-folders) that are not folders, leaving out every
    // leading "on_off" switch. Empty for null.
    static std::vector<Node*> getFastNodes(Node* block);
    // True when the block's leading "on_off" switch reads "ON"; false for null or without such a switch.
    static bool isEnabled(Node* block);

private:
    bool inRange() const { return cursor >= 0 && cursor < int(blocks.size()); }
    // The selected block's fast node k, or null when it has fewer or no tile is selected.
    Node* fastNode(size_t k) const;
    void drawStrip();
    void drawSliders();
    std::string cornerText(const Node* block) const;

    Node* app;
    Node* root;
    NodePreset* preset;
    NodeFloat* volumeNode;
    NodeFloat* levelNode;
    int cursor = -1;
    Node* fixedNode = nullptr;
    std::vector<Node*> blocks;
    std::vector<NodeEnum*> enables;
    std::vector<NodeItem*> assigns;
};
