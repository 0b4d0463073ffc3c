#pragma once
#include <atomic>
#include <string>

#include "core/ControlMessage.h"
#include "core/Node.h"
#include "core/Source.h"

class NodeEnum;

// A binding from controller sources to parameter nodes (type "ctrl"). Its value is "ON" (the binding acts)
// or "OFF"; default "ON". Bindings register with the sources when built and receive every event of every
// source while active; each subclass picks the events it answers to.
class NodeControl : public Node, public SourceBinding {
public:
    static constexpr int omni = -1;

    // channel: the node selecting the MIDI channel ("0".."15"); null listens on every channel.
    NodeControl(Node* parent, const char* key, const char* displayName, NodeEnum* channel);
    ~NodeControl() override;

    bool isActive() const override { return active.load(std::memory_order_relaxed); }
    void setActive(bool on);
    // The selected MIDI channel 0..15, omni without a channel node.
    int getChannel() const;
    // Called for every event while active (on the thread polling the source).
    void receive(Source& source, const ControlMessage& message) override = 0;

    const char* getType() const override { return "ctrl"; }
    std::string toString() const override { return isActive() ? "ON" : "OFF"; }
    void edit(bool) override { setActive(!isActive()); }
    void reset() override { setActive(true); }

    // Sets a target from a fraction 0..1: a float through its slider position, an on/off switch ON from one
    // half, another choice by its share of the options. Other nodes are left alone.
    static void applyFraction(Node* target, float fraction);

protected:
    // Description members: "source", "number", "channel", "target".
    virtual std::string sourceName() const { return "midi"; }
    virtual int number() const { return -1; }
    virtual Node* target() const { return nullptr; }
    bool onChannel(const ControlMessage& message) const;

    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    NodeEnum* const channel;
    std::atomic<bool> active{true};
};
