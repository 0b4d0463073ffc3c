#include "blocks/BlockNodes.h"

#include "audio/AudioProcessor.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "core/Storage.h"

NodeOnOff* BlockNodes::onOff(Node* folder) {
    NodeOnOff* node = new NodeOnOff(folder, "on_off", "Enable", NodeOnOff::OFF);
    node->setOnChange(AudioProcessor::debounce);
    return node;
}

NodeFloat* BlockNodes::parameter(Node* folder, const char* key, const char* displayName, float min, float max,
                                 float def, const char* unit, int decimals) {
    NodeFloat* node = new NodeFloat(folder, key, displayName, min, max, def, unit, 0.5f, false, decimals);
    node->setLinkable(true);
    return node;
}

NodeEnum* BlockNodes::choice(Node* folder, const char* key, const char* displayName, std::vector<const char*> options,
                             const char* def, bool structural) {
    NodeEnum* node = new NodeEnum(folder, key, displayName, std::move(options), def);
    if (structural) node->setOnChange(AudioProcessor::debounce);
    return node;
}

NodeItem* BlockNodes::subFolder(Node* folder, const char* key, const char* displayName) {
    return new NodeItem(folder, key, displayName, "", "vfolder");
}

NodeItem* BlockNodes::tempoFolder(Node* folder) {
    return new NodeItem(folder, "sync", "Tempo Sync", kTempoFolderValue, "vfolder");
}

void BlockNodes::store(Node* folder) {
    if (!folder) return;
    for (Node* child : folder->getChildren()) {
        NodeItem* item = dynamic_cast<NodeItem*>(child);
        if (item && item->isFolder()) {
            store(child);
        } else {
            Storage::addItem(child);
        }
    }
}
