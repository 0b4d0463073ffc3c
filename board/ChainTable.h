#pragma once
// The product's effect chain, written once: the block folders under "app" (key, display name, tile colour) in
// the order the screens list them, and each block's factory and place in the processing order. The product
// builds its chain from this table, and so do the chain's tests and its benchmark, so a block added here is
// played, checked and timed without another edit. Blocks and folders are found by key.
#include <vector>

class AudioBlock;
class Node;
class NodeItem;
class NodePreset;
class Tempo;

class ChainTable {
public:
    // Where a block's folder lives: a folder of its own under "app", or one the caller made elsewhere.
    enum class Place { App, Tuner, Pickup, Product };

    // What the factories need besides the block's folder.
    struct Context {
        Node* root = nullptr;
        NodePreset* preset = nullptr;
        Tempo* tempo = nullptr;
        Node* tunerFolder = nullptr;
        Node* pickupFolder = nullptr;
        Node* productFolder = nullptr; // the product block's own folder ("app")
    };

    struct Row {
        const char* key; // the folder's key under "app", or the block's name for the other places
        const char* displayName;
        int color; // the block's tile colour; -1 for none
        Place place;
        // The processing order, counted from the product block: negative before it (such a block registers
        // at the front of the ring, so those nearest the product are built first), positive after it (at the
        // back, built in order). 0: a folder with no block of the table (the product's own settings).
        int position;
        AudioBlock* (*make)(Node* folder, const Context& context);
    };

    // A chain as built: per row of the table, its folder (App rows) and its block (null where none).
    struct Built {
        std::vector<NodeItem*> folders;
        std::vector<AudioBlock*> blocks;
        NodeItem* folder(const char* key) const;
        AudioBlock* block(const char* key) const;
        template <class Block>
        Block* as(const char* key) const {
            return dynamic_cast<Block*>(block(key));
        }
    };

    static const std::vector<Row>& rows();
    // The row's index, -1 for an unknown key.
    static int indexOf(const char* key);

    // The App rows' folders under app, in table order, with their tile colour and the screens' mini style.
    static void buildFolders(Node* app, Built& built);
    // Every block, in the order that gives the table's processing order; a player's index follows its row
    // (the nearest to the product first). The folders must have been built.
    static void buildBlocks(const Context& context, Built& built);
};
