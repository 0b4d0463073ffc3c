#include "porting/Shims.h"

#include "porting/Log.h"
#include "porting/TaskPlacement.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace porting {

TaskPlacement taskPlacement(int priority, int core, int cpuCount) {
    TaskPlacement placement;
    if (priority >= 21) {
        placement.policy = TaskPlacement::Policy::Fifo;
        placement.fifoPriority = priority;
    } else if (priority >= 1) {
        placement.policy = TaskPlacement::Policy::Nice;
        placement.nice = -priority;
    }
    int cpu = 0;
    switch (core) {
    case 1:
        cpu = 3;
        break;
    case 2:
        cpu = 2;
        break;
    case 3:
        cpu = 1;
        break;
    default:
        cpu = 0;
        break;
    }
    if (cpuCount < 1) cpuCount = 1;
    placement.cpu = cpu < cpuCount ? cpu : cpuCount - 1;
    return placement;
}

}

namespace {

const char* const TAG = "Tasks";
// Suspend parks the thread inside this signal's handler until the resume signal arrives.
const int SUSPEND_SIGNAL = SIGUSR1;
const int RESUME_SIGNAL = SIGUSR2;

struct Task {
    pthread_t thread{};
    TaskFunction_t function = nullptr;
    void* argument = nullptr;
    std::string name;
    porting::TaskPlacement placement;
    bool applyRealTime = false;
    std::atomic<bool> running{true};
    std::atomic<bool> suspendRequested{false};
    std::atomic<bool> parked{false};
};

// Task records live as long as the process: a handle stays valid even after its thread has ended, so a late
// suspend or resume finds "not running" instead of freed memory. Threads are created once at start-up, so
// the list stays short. The list and its lock are never destroyed: detached tasks still run while the
// process's static destructors do, and a task that reads its record then would read freed memory.
struct TaskList {
    std::mutex mutex;
    std::vector<std::unique_ptr<Task>> tasks;
};
TaskList& taskList() {
    static TaskList* const list = new TaskList;
    return *list;
}
thread_local Task* currentTask = nullptr;

std::atomic<bool> priorityRefusalLogged{false};
std::atomic<bool> affinityRefusalLogged{false};

void onSuspendSignal(int) {
    Task* task = currentTask;
    if (!task) return;
    int savedErrno = errno;
    sigset_t waitMask;
    sigfillset(&waitMask);
    sigdelset(&waitMask, RESUME_SIGNAL);
    for (int fatal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGINT, SIGTERM}) sigdelset(&waitMask, fatal);
    task->parked.store(true);
    while (task->suspendRequested.load()) sigsuspend(&waitMask);
    task->parked.store(false);
    errno = savedErrno;
}

void onResumeSignal(int) {}

void installSuspendHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = onSuspendSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        // The resume signal stays blocked until sigsuspend opens it, so a resume that races the suspend is
        // not lost between the flag check and the wait.
        sigaddset(&action.sa_mask, RESUME_SIGNAL);
        sigaction(SUSPEND_SIGNAL, &action, nullptr);
        struct sigaction resume {};
        resume.sa_handler = onResumeSignal;
        resume.sa_flags = SA_RESTART;
        sigemptyset(&resume.sa_mask);
        sigaction(RESUME_SIGNAL, &resume, nullptr);
    });
}

bool realTimeAllowed() {
#ifdef PEDAL_DEVICE
    return true;
#else
    const char* rt = std::getenv("PEDAL_RT");
    return rt && std::strcmp(rt, "1") == 0;
#endif
}

void logRefusalOnce(std::atomic<bool>& logged, const char* what, const std::string& name, int error) {
    if (!logged.exchange(true)) {
        LOGW(TAG, "%s refused for task %s (%s); tasks run without it\n", what, name.c_str(), std::strerror(error));
    }
}

void applyPlacement(const Task& task) {
    const porting::TaskPlacement& placement = task.placement;
    if (placement.policy == porting::TaskPlacement::Policy::Nice) {
        // Linux keeps the nice value per thread: PRIO_PROCESS with a thread id changes only this thread.
        if (setpriority(PRIO_PROCESS, gettid(), placement.nice) != 0) {
            logRefusalOnce(priorityRefusalLogged, "Priority", task.name, errno);
        }
    }
    if (!task.applyRealTime) return;
    if (placement.policy == porting::TaskPlacement::Policy::Fifo) {
        sched_param param{};
        int maxPriority = sched_get_priority_max(SCHED_FIFO);
        param.sched_priority = placement.fifoPriority < maxPriority ? placement.fifoPriority : maxPriority;
        int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        if (error != 0) logRefusalOnce(priorityRefusalLogged, "Real-time priority", task.name, error);
    }
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(placement.cpu, &cpus);
    int error = pthread_setaffinity_np(pthread_self(), sizeof(cpus), &cpus);
    if (error != 0) logRefusalOnce(affinityRefusalLogged, "CPU affinity", task.name, error);
}

void* runTask(void* argument) {
    Task* task = static_cast<Task*>(argument);
    currentTask = task;
    // Named from inside, so the name is in place before the body runs.
    pthread_setname_np(pthread_self(), task->name.c_str());
    applyPlacement(*task);
    task->function(task->argument);
    task->running.store(false);
    return nullptr;
}

Task* taskFromHandle(TaskHandle_t handle) {
    if (!handle) return currentTask;
    return static_cast<Task*>(handle);
}

int cpuCount() {
    long count = sysconf(_SC_NPROCESSORS_CONF);
    return count > 0 ? int(count) : 1;
}

}

int xTaskCreatePinnedToCore(TaskFunction_t fn, const char* name, uint32_t, void* arg, int priority,
                            TaskHandle_t* handle, int core) {
    if (!fn) return 0;
    installSuspendHandlers();
    auto task = std::make_unique<Task>();
    task->function = fn;
    task->argument = arg;
    // Linux thread names hold 15 bytes and a terminator.
    task->name = std::string(name ? name : "").substr(0, 15);
    task->placement = porting::taskPlacement(priority, core, cpuCount());
    task->applyRealTime = realTimeAllowed();

    Task* record = task.get();
    {
        TaskList& list = taskList();
        std::lock_guard<std::mutex> lock(list.mutex);
        list.tasks.push_back(std::move(task));
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    int error = pthread_create(&record->thread, &attributes, runTask, record);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        record->running.store(false);
        LOGE(TAG, "Cannot start task %s: %s\n", record->name.c_str(), std::strerror(error));
        return 0;
    }
    if (handle) *handle = record;
    return 1;
}

void vTaskSuspend(TaskHandle_t handle) {
    Task* task = taskFromHandle(handle);
    if (!task || !task->running.load()) return;
    task->suspendRequested.store(true);
    if (task == currentTask) {
        pthread_kill(pthread_self(), SUSPEND_SIGNAL);
        return;
    }
    pthread_kill(task->thread, SUSPEND_SIGNAL);
    // Like the RTOS call, return only once the task has stopped running; bounded so a thread that has just
    // ended cannot hang the caller.
    for (int waited = 0; waited < 10000 && !task->parked.load() && task->running.load(); ++waited) vTaskDelay(100);
}

void vTaskResume(TaskHandle_t handle) {
    Task* task = taskFromHandle(handle);
    if (!task || !task->running.load()) return;
    task->suspendRequested.store(false);
    pthread_kill(task->thread, RESUME_SIGNAL);
}
