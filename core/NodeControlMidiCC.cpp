#include "core/NodeControlMidiCC.h"

NodeControlMidiCC::NodeControlMidiCC(Node* parent, const char* key, const char* displayName, Node* target, int cc,
                                     NodeEnum* channel)
    : NodeControl(parent, key, displayName, channel), targetNode(target), cc(cc) {}

void NodeControlMidiCC::receive(Source& source, const ControlMessage& message) {
    if (source.getKind() != Source::Kind::Midi || message.type != ControlMessage::Type::ControlChange) return;
    if (message.number != cc || !onChannel(message)) return;
    applyFraction(targetNode, message.fraction());
}
