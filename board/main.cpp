// The pedal process: brings up the system tree and its services, then runs until SIGTERM.
#include "Debug.h"
#include "Log.h"
#include "Process.h"
#include "Shims.h"
#include "Storage.h"
#include "System.h"
#include "Time.h"

#include <atomic>
#include <csignal>

namespace {
const char* const TAG = "main";
std::atomic<bool> stopRequested{false};

void onTerminate(int) { stopRequested.store(true); }

// The service passes of the input/service thread that exist so far: the clock and the storage sweep.
void eventTasks(void*) {
    while (true) {
        Time::tasks();
        Storage::tasks();
        vTaskDelay(10000);
    }
}
}

int main() {
    lock_memory();
    install_fatal_handler();
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, onTerminate);
    System::initialize("pedal");
    xTaskCreatePinnedToCore(eventTasks, "eventTasks", 8192, nullptr, 0, nullptr, 0);
    xTaskCreatePinnedToCore(info_tasks, "infoTasks", 4096, nullptr, 0, nullptr, 0);
    LOGI(TAG, "running\n");
    std::fflush(stdout);
    while (!stopRequested.load()) vTaskDelay(100000);
    LOGI(TAG, "stopped by SIGTERM\n");
    return 0;
}
