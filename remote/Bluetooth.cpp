#include "remote/Bluetooth.h"

#include "btle/port/BlePort.h"
#include "core/Node.h"

Bluetooth::Bluetooth(Node* root, Node* nameNode) : ComInterface(root), nameNode(nameNode) {}

void Bluetooth::initialize() {
    std::string name = nameNode != nullptr ? nameNode->toString() : "";
    ble_start(name.c_str());
}

void Bluetooth::heldTasks() { ble_supervisor(); }

void Bluetooth::tasks() {
    ble_supervisor();
    std::string request = ble_get_rx();
    if (request.empty()) return;
    ble_set_tx(processRequest(std::move(request)));
}
