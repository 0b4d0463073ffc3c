// A private D-Bus daemon with the fake BlueZ on it, and helpers that run the GLib main loop of the
// default context (as the BLE thread does) until a condition holds.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

class BtleBus {
public:
    // adapters: comma-separated adapter names the fake offers ("hci0,hci1"), or "" for none.
    explicit BtleBus(const std::string& adapters = "hci0");
    ~BtleBus();

    GDBusConnection* connection() const { return connection_; }
    bool ok() const { return connection_ != nullptr; }

    // Runs the default main context until the condition holds; false after a bounded wait.
    bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
    // Calls a method of the fake's control object and runs the loop while it answers.
    GVariant* control(const char* method, GVariant* parameters);
    std::vector<std::string> calls();
    bool called(const std::string& call);

private:
    GPid daemonPid_ = 0;
    GPid fakePid_ = 0;
    GDBusConnection* connection_ = nullptr;
};
