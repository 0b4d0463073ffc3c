#include "core/NodeControlMidiPC.h"

#include "core/NodeList.h"
#include "core/NodeParList.h"
#include "core/NodePreset.h"

NodeControlMidiPC::NodeControlMidiPC(Node* parent, const char* key, const char* displayName, NodeParList* target,
                                     int base, NodeEnum* channel)
    : NodeControl(parent, key, displayName, channel), targetNode(target), base(base) {}

Node* NodeControlMidiPC::target() const { return targetNode; }

void NodeControlMidiPC::receive(Source& source, const ControlMessage& message) {
    if (source.getKind() != Source::Kind::Midi || message.type != ControlMessage::Type::ProgramChange) return;
    if (!targetNode || !onChannel(message)) return;
    const int slot = message.number - base;
    if (auto* preset = dynamic_cast<NodePreset*>(targetNode)) {
        preset->setByIndex(slot);
        return;
    }
    NodeList* list = targetNode->getReferenceList();
    const std::string name = list ? list->nameAt(slot) : std::string();
    if (!name.empty()) targetNode->setValue(name);
}
