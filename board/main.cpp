// The pedal process, the same program on the device and on the host: boot selection, the board application
// (the product, or the recovery application), the audio engine, the UI and input threads, the remote
// transports, then nothing but sleep. Nothing ends it from inside; SIGTERM (a service stop, a reboot, the end
// of the boot wait) or SIGINT (Ctrl-C) ends it in order: the transports stop taking requests, then the stored values still
// waiting in the storage sweep are written.
#include "nolt/driver/Ads1115.h"
#include "audio/AudioProcessor.h"
#include "audio/AudioUSB.h"
#include "remote/Bluetooth.h"
#include "btle/port/BlePort.h"
#include "remote/Com.h"
#include "core/Debug.h"
#include "ui/EventDispatcher.h"
#include "nolt/driver/IOArray.h"
#include "board/Lindquar.h"
#include "board/LindquarUpdater.h"
#include "porting/Log.h"
#include "core/Node.h"
#include "porting/PanelConverter.h"
#include "porting/PanelSocket.h"
#include "porting/Process.h"
#include "remote/RemoteServices.h"
#include "remote/Serial.h"
#include "porting/Shims.h"
#include "core/Storage.h"
#include "core/System.h"
#include "board/Update.h"
#include "remote/Wifi.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {
constexpr int kRemotePort = 8080;
constexpr uint32_t kTaskStack = 8192;
// The longest the end may spend writing stored values: well inside a service manager's stop timeout.
constexpr int kStoreOnEndMs = 5000;
// The longest a request under way may take to finish before the end goes on without it.
constexpr int kStopRemoteMs = 2000;

std::atomic<bool> terminateRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void onTerminate(int) {
    terminateRequested.store(true);
    // During the boot wait the image running as a child ends in order too; the wait then returns.
    Update::forwardStop();
}

#ifdef PEDAL_HOST
// On the host, PEDAL_STORAGE_CUT_AFTER=N ends the process at once after its Nth whole-file step (store, move,
// removal), as a power cut between two steps of a multi-file change would: tests check what the next start
// finds. The device has no such switch.
int fileStepsLeft = 0;

void cutAfterSteps(const std::string&) {
    if (--fileStepsLeft == 0) std::_Exit(9);
}

void installStorageCut() {
    const char* steps = std::getenv("PEDAL_STORAGE_CUT_AFTER");
    if (!steps || std::atoi(steps) <= 0) return;
    fileStepsLeft = std::atoi(steps);
    Storage::setFileStepObserver(cutAfterSteps);
}
#endif

// The UI and service threads never end, and the objects they use have static lifetime: leave without
// running static destructors under them, once the stored values are on disk.
[[noreturn]] void endInOrder() {
    // A remote write answered after the last storage write would be echoed as taken and then lost.
    Com::stop(kStopRemoteMs);
    Storage::finish(kStoreOnEndMs);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

void startTask(TaskFunction_t body, const char* name) {
    xTaskCreatePinnedToCore(body, name, kTaskStack, nullptr, 0, nullptr, 0);
}
}

int main() {
    // Tests and log collectors read whole lines while the process runs.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    if (lock_memory() < 0) LOGE("MemLock", "Continuing without memory locking...\n\n");
    install_fatal_handler();
    // A root shell that exits before it has read the whole gadget script, or a peer that resets a socket,
    // must not end the device.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, onTerminate);
    std::signal(SIGINT, onTerminate);
    // Once the Bluetooth thread runs, its main loop takes SIGINT over: it tears the port down, then this.
    ble_sigint_hook = [] { onTerminate(SIGINT); };

    System::setBootSelection(Update::initialize, Update::isRecovery, Update::getFormat);
    System::initialize("pedal");
    // A stop that came while the installed image ran ends the boot process too, without bringing the board
    // up again as the recovery application.
    if (terminateRequested.load()) endInOrder();
    RemoteServices::setFirmware({Update::update_start, Update::update_data});
#ifdef PEDAL_HOST
    // The front panel's chain and the pedal's converter, for a simulated panel to connect to.
    if (std::shared_ptr<PanelSocket> panel = PanelSocket::fromEnvironment()) {
        IOArray::setPort(panel);
        Ads1115::setPort(std::make_shared<PanelConverter>(panel));
    }
#endif

    // Neither object is ever deleted: the board object registers itself with Board, the product with the
    // block ring, the recovery application on the page stack.
    if (Update::isRecovery()) {
        new LindquarUpdater(System::appNode(), System::rootNode());
    } else {
        new Lindquar(System::appNode(), System::rootNode());
    }
#ifdef PEDAL_HOST
    // Counted from here: the lists have finished any change that a cut interrupted while they were built.
    installStorageCut();
#endif

    AudioUSB::initialize();
    AudioProcessor::audioInitialize(true);

    startTask(system_tasks, "systemTasks");
    startTask(event_tasks, "eventTasks");

    Node* root = System::rootNode();
    new Bluetooth(root, root->pathToNode("root\\sys\\_name"));
    new Serial(root, "/dev/ttyGS0", 0, 0);
    new Wifi(root, root->pathToNode("root\\sys\\_name"), kRemotePort);

    startTask(Com::com_tasks, "comTasks");
    startTask(info_tasks, "infoTasks");

    // The signal cuts the sleep short.
    while (!terminateRequested.load()) sleep(1);
    endInOrder();
}
