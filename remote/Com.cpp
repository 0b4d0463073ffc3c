#include "remote/Com.h"

#include "remote/ComInterface.h"
#include "porting/Shims.h"

#include <algorithm>
#include <chrono>
#include <thread>

std::list<ComInterface*>& Com::ifaces = ComInterface::transports();
std::atomic<bool> Com::initialized{false};

namespace {
const uint32_t PASS_PERIOD_US = 10000;
std::atomic<bool> stopRequested{false};
std::atomic<bool> passRunning{false};
}

void Com::addIface(ComInterface* iface) {
    if (!iface) return;
    if (std::find(ifaces.begin(), ifaces.end(), iface) != ifaces.end()) return;
    ifaces.push_back(iface);
}

bool Com::initialize() {
    if (initialized) return true;
    for (ComInterface* iface : ifaces) iface->initialize();
    initialized = true;
    return true;
}

void Com::pass() {
    int64_t now = esp_timer_get_time();
    for (ComInterface* iface : ifaces) {
        if (iface->answersHeld(now)) iface->heldTasks();
        else iface->tasks();
    }
}

void Com::com_tasks(void*) {
    initialize();
    for (;;) {
        // Marked running before the stop is looked at: stop() either sees the pass or the pass sees the stop.
        passRunning = true;
        if (!stopRequested) pass();
        passRunning = false;
        vTaskDelay(PASS_PERIOD_US);
    }
}

void Com::stop(int timeLimitMs) {
    stopRequested = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    while (passRunning && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
