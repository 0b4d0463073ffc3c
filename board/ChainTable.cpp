#include "board/ChainTable.h"

#include <algorithm>
#include <cstring>

#include "audio/AudioProcessor.h"
#include "blocks/DelayEngine.h"
#include "blocks/DynaComp.h"
#include "blocks/Expr.h"
#include "blocks/IrLoader.h"
#include "blocks/Mixer.h"
#include "blocks/ModulationsEngine.h"
#include "blocks/NoiseGate.h"
#include "blocks/Pickup.h"
#include "blocks/RedIzuzir.h"
#include "blocks/ReverbFDN.h"
#include "blocks/Tuner.h"
#include "core/NodeItem.h"

namespace {

using Context = ChainTable::Context;
using Place = ChainTable::Place;

AudioBlock* makeGate(Node* folder, const Context&) {
    return new NoiseGate(folder, 3, NoiseGate::kKeyExternal, AudioProcessor::getInput(), false);
}
AudioBlock* makeExpr(Node* folder, const Context&) { return new Expr(folder); }
AudioBlock* makeComp(Node* folder, const Context&) { return new DynaComp(folder); }
AudioBlock* makeModPre(Node* folder, const Context& context) {
    return new ModulationsEngine(folder, context.tempo, false);
}
AudioBlock* makeDrive(Node* folder, const Context& context) {
    return new RedIzuzir(folder, context.root, context.preset, "nam_drive", "Nam Drive");
}
AudioBlock* makeAmp(Node* folder, const Context& context) {
    return new RedIzuzir(folder, context.root, context.preset, "nam_amp", "Nam Amp", true);
}
AudioBlock* makeIr(Node* folder, const Context& context) { return new IrLoader(folder, context.root, "ir_list"); }
AudioBlock* makeMod(Node* folder, const Context& context) { return new ModulationsEngine(folder, context.tempo); }
AudioBlock* makeDelay(Node* folder, const Context& context) { return new DelayEngine(folder, context.tempo); }
AudioBlock* makeReverb(Node* folder, const Context&) { return new ReverbFDN(folder); }
AudioBlock* makeTuner(Node* folder, const Context&) { return new Tuner(folder, false); }
AudioBlock* makePickup(Node* folder, const Context&) { return new Pickup(folder, true); }
AudioBlock* makeMixer(Node* folder, const Context&) { return new Mixer(folder, AudioProcessor::getInput()); }

// Processing order: Pickup, Tuner, NoiseGate, Expr, DynaComp, Mod (pre), Drive, Amp, then the tempo and the
// product block (built before the chain), then IR, Mod (post), Delay, Reverb, Mixer. The amp is nearest the
// product, so it is built first and gets player index 0.
const std::vector<ChainTable::Row>& tableRows() {
    static const std::vector<ChainTable::Row> rows = {
        {"gate", "Gate", 0x888844, Place::App, -7, makeGate},
        {"exp", "Expr", 0x88FF66, Place::App, -6, makeExpr},
        {"comp", "Comp", 0xFFFF00, Place::App, -5, makeComp},
        {"mod_pre", "Mod", 0x7777FF, Place::App, -4, makeModPre},
        {"drive", "Drive", 0xFF6600, Place::App, -3, makeDrive},
        {"amp", "Amp", 0xFF0000, Place::App, -2, makeAmp},
        {"ir", "IR", 0xFF8844, Place::App, 1, makeIr},
        {"mod", "Mod", 0x00FFFF, Place::App, 2, makeMod},
        {"delay", "Delay", 0x00FF00, Place::App, 3, makeDelay},
        {"reverb", "Rev", 0xFF00FF, Place::App, 4, makeReverb},
        {"output", "Master", -1, Place::App, 0, nullptr},
        {"tuner", "Tuner", -1, Place::Tuner, -8, makeTuner},
        {"pickup", "Pickup", -1, Place::Pickup, -9, makePickup},
        {"mixer", "Mixer", -1, Place::Product, 5, makeMixer},
    };
    return rows;
}

Node* folderOf(const ChainTable::Row& row, NodeItem* own, const Context& context) {
    switch (row.place) {
    case Place::Tuner:
        return context.tunerFolder;
    case Place::Pickup:
        return context.pickupFolder;
    case Place::Product:
        return context.productFolder;
    default:
        return own;
    }
}

}

const std::vector<ChainTable::Row>& ChainTable::rows() { return tableRows(); }

int ChainTable::indexOf(const char* key) {
    const std::vector<Row>& table = rows();
    for (size_t i = 0; i < table.size(); ++i) {
        if (std::strcmp(table[i].key, key) == 0) return int(i);
    }
    return -1;
}

NodeItem* ChainTable::Built::folder(const char* key) const {
    const int index = indexOf(key);
    return index >= 0 && size_t(index) < folders.size() ? folders[size_t(index)] : nullptr;
}

AudioBlock* ChainTable::Built::block(const char* key) const {
    const int index = indexOf(key);
    return index >= 0 && size_t(index) < blocks.size() ? blocks[size_t(index)] : nullptr;
}

void ChainTable::buildFolders(Node* app, Built& built) {
    const std::vector<Row>& table = rows();
    built.folders.assign(table.size(), nullptr);
    for (size_t i = 0; i < table.size(); ++i) {
        const Row& row = table[i];
        if (row.place != Place::App) continue;
        NodeItem* folder = new NodeItem(app, row.key, row.displayName, "", "hfolder");
        if (row.color >= 0) folder->setStyleColor(row.color);
        folder->setStyleMode("mini");
        built.folders[i] = folder;
    }
}

void ChainTable::buildBlocks(const Context& context, Built& built) {
    const std::vector<Row>& table = rows();
    std::vector<size_t> order;
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].make) order.push_back(i);
    }
    // Before the product nearest first (each goes to the front), then after it in order (each to the back).
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int first = table[a].position, second = table[b].position;
        if ((first < 0) != (second < 0)) return first < 0;
        return first < 0 ? first > second : first < second;
    });
    built.folders.resize(table.size(), nullptr);
    built.blocks.assign(table.size(), nullptr);
    for (size_t i : order) built.blocks[i] = table[i].make(folderOf(table[i], built.folders[i], context), context);
}
