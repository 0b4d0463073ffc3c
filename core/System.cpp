#include "core/System.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "porting/Log.h"
#include "core/NodeItem.h"
#include "core/NodePassword.h"
#include "core/Security.h"
#include "core/Storage.h"

namespace {
const char* TAG = "System";
const char* productName = "Corvinhallow PRO";
const char* manufacturer = "TERAVIN";
const char* version = "1.1.6";

#if defined(__aarch64__)
const char* architecture = "aarch64";
#elif defined(__arm__)
const char* architecture = "arm";
#elif defined(__x86_64__)
const char* architecture = "x86_64";
#else
const char* architecture = "unknown";
#endif

System::BootInitialize bootInitialize = nullptr;
System::BootIsRecovery bootIsRecovery = nullptr;
System::BootFormat bootFormat = nullptr;
std::atomic<bool> recovery{false};
std::atomic<Node*> root{nullptr};
std::atomic<Node*> application{nullptr};
std::atomic<Node*> systemFolder{nullptr};

Node* checked(const std::atomic<Node*>& node, const char* which) {
    Node* found = node.load(std::memory_order_acquire);
    if (!found) LOGE(TAG, "%s node requested before System::initialize\n", which);
    return found;
}

bool runBootSelection() {
    // An image started by the boot selection is the full application whatever the selection answers.
    const bool appCalled = std::getenv("APP_CALLED") != nullptr;
    if (bootInitialize) bootInitialize();
    return !appCalled && bootIsRecovery && bootIsRecovery();
}
}

void System::setBootSelection(BootInitialize initialize, BootIsRecovery isRecovery, BootFormat format) {
    bootInitialize = initialize;
    bootIsRecovery = isRecovery;
    bootFormat = format;
}

void System::initialize(const char* programName) {
    static std::once_flag once;
    bool first = false;
    std::call_once(once, [&] {
        first = true;
        LOGI(TAG, "Starting %s\n", programName ? programName : productName);
        recovery.store(runBootSelection(), std::memory_order_release);

        auto* rootNode = new NodeItem(nullptr, "root", "Root", "", "vfolder");
        auto* app = new NodeItem(rootNode, "app", "Application", "", "vfolder");
        auto* sys = new NodeItem(rootNode, "sys", "System", "", "vfolder");
        new NodeItem(sys, "_name", "Name", productName, "string");
        auto* alias = new NodeItem(sys, "alias", "Alias", productName, "string");
        new NodeItem(sys, "_arch", "Architecture", architecture, "string");
        if (isRecovery()) new NodeItem(sys, "_upd", "Update", bootFormat ? bootFormat() : "", "string");
        new NodeItem(sys, "_author", "Author", manufacturer, "string");
        new NodeItem(sys, "_ver", "Version", version, "string");
        new NodeItem(sys, "_logo", "Logo", "", "string");
        auto* password = new NodePassword(sys, "pwd", "Password");

        root.store(rootNode, std::memory_order_release);
        application.store(app, std::memory_order_release);
        systemFolder.store(sys, std::memory_order_release);

        Storage::addItem(alias);
        Storage::addItem(password);
        Security::initialize(password);
    });
    if (!first) LOGW(TAG, "System::initialize called again; ignored\n");
}

bool System::isRecovery() { return recovery.load(std::memory_order_acquire); }

Node* System::rootNode() { return checked(root, "Root"); }

Node* System::appNode() { return checked(application, "Application"); }

Node* System::systemNode() { return checked(systemFolder, "System"); }
