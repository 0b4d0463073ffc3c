#pragma once
#include "remote/ComInterface.h"

// Remote control over Bluetooth LE: the port layer's thread receives NUL-terminated requests written to the
// RX characteristic; each pass of "comTasks" runs at most one of them and sends the reply back as
// notifications of TX.
class Bluetooth : public ComInterface {
public:
    // nameNode is the device name ("root\sys\_name"): adapter alias and advertised name.
    Bluetooth(Node* root, Node* nameNode);

    // Starts the Bluetooth LE port under the device name.
    void initialize() override;
    // One pass: keep the advertisement registered, run one received request, send its reply.
    void tasks() override;
    // While a wrong password answer holds requests back, the advertisement is still kept registered.
    void heldTasks() override;
    const char* transportName() const override { return "bluetooth"; }

private:
    Node* nameNode;
};
