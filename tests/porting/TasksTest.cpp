#include "porting/Shims.h"
#include "porting/TaskPlacement.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#include <fstream>
#include <set>
#include <string>

using porting::TaskPlacement;
using Policy = porting::TaskPlacement::Policy;

TEST(TaskPlacement, PriorityAndCoreMapping) {
    struct Case {
        int priority, core, cpus;
        Policy policy;
        int nice, fifo, cpu;
    } cases[] = {
        {0, 0, 4, Policy::Normal, 0, 0, 0},
        {-3, 0, 4, Policy::Normal, 0, 0, 0},
        {1, 0, 4, Policy::Nice, -1, 0, 0},
        {20, 0, 4, Policy::Nice, -20, 0, 0},
        {21, 0, 4, Policy::Fifo, 0, 21, 0},
        {59, 1, 4, Policy::Fifo, 0, 59, 3},
        {59, 2, 4, Policy::Fifo, 0, 59, 2},
        {59, 3, 4, Policy::Fifo, 0, 59, 1},
        {2, 4, 4, Policy::Nice, -2, 0, 0},
        {2, -1, 4, Policy::Nice, -2, 0, 0},
        {59, 1, 8, Policy::Fifo, 0, 59, 3},
        // Fewer CPUs than the board: a missing CPU becomes the last one, keeping the dedicated threads off
        // CPU 0 where there is another one.
        {59, 1, 2, Policy::Fifo, 0, 59, 1},
        {59, 2, 2, Policy::Fifo, 0, 59, 1},
        {59, 3, 2, Policy::Fifo, 0, 59, 1},
        {59, 0, 2, Policy::Fifo, 0, 59, 0},
        {59, 1, 1, Policy::Fifo, 0, 59, 0},
        {59, 1, 0, Policy::Fifo, 0, 59, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("priority " + std::to_string(c.priority) + " core " + std::to_string(c.core) + " cpus " +
                     std::to_string(c.cpus));
        TaskPlacement placement = porting::taskPlacement(c.priority, c.core, c.cpus);
        EXPECT_EQ(placement.policy, c.policy);
        if (c.policy == Policy::Nice) {
            EXPECT_EQ(placement.nice, c.nice);
        }
        if (c.policy == Policy::Fifo) {
            EXPECT_EQ(placement.fifoPriority, c.fifo);
        }
        EXPECT_EQ(placement.cpu, c.cpu);
    }
}

namespace {
std::set<std::string> threadNames() {
    std::set<std::string> names;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.insert(name);
    }
    closedir(dir);
    return names;
}

template <typename Condition>
bool waitFor(Condition condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        vTaskDelay(1000);
    }
    return condition();
}

struct Worker {
    std::atomic<bool> stop{false};
    std::atomic<long> passes{0};
    std::atomic<bool> finished{false};

    // The body reads this object: it must not go out of scope before the thread is done with it.
    void stopAndWait() {
        stop = true;
        for (int i = 0; i < 5000 && !finished; ++i) vTaskDelay(1000);
        ASSERT_TRUE(finished.load()) << "the task did not end";
    }
};

void workerBody(void* argument) {
    auto* worker = static_cast<Worker*>(argument);
    while (!worker->stop) {
        ++worker->passes;
        vTaskDelay(100);
    }
    worker->finished = true;
}
}

TEST(Tasks, ThreadRunsUnderANameCutTo15BytesAndSuspendStopsItUntilResumed) {
    EXPECT_EQ(xTaskCreatePinnedToCore(nullptr, "none", 0, nullptr, 0, nullptr, 0), 0) << "no function";
    Worker worker;
    TaskHandle_t handle = nullptr;
    ASSERT_EQ(xTaskCreatePinnedToCore(workerBody, "a-very-long-task-name", 4096, &worker, 3, &handle, 1), 1);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(waitFor([&] { return worker.passes.load() > 0; })) << "the task body never ran";
    EXPECT_TRUE(threadNames().count("a-very-long-tas")) << "no thread named with the first 15 bytes";

    vTaskSuspend(handle);
    long atSuspend = worker.passes.load();
    vTaskDelay(20000);
    EXPECT_EQ(worker.passes.load(), atSuspend) << "a suspended task went on running";

    vTaskResume(handle);
    EXPECT_TRUE(waitFor([&] { return worker.passes.load() > atSuspend; })) << "the task did not resume";
    worker.stopAndWait();
}

namespace {
struct Observed {
    std::atomic<bool> done{false};
    int policy = -1;
    int priority = -1;
    cpu_set_t cpus{};
};

void observeBody(void* argument) {
    auto* observed = static_cast<Observed*>(argument);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &observed->policy, &param);
    observed->priority = param.sched_priority;
    pthread_getaffinity_np(pthread_self(), sizeof(observed->cpus), &observed->cpus);
    observed->done = true;
}
}

// Whether the machine grants real-time scheduling is its business; the task runs either way, and what it
// is granted matches the mapping.
TEST(Tasks, RealTimeTaskRunsAndGetsTheMappedPlacementWhenGranted) {
    setenv("PEDAL_RT", "1", 1);
    Observed observed;
    ASSERT_EQ(xTaskCreatePinnedToCore(observeBody, "rt", 0, &observed, 59, nullptr, 1), 1);
    ASSERT_TRUE(waitFor([&] { return observed.done.load(); })) << "a refused real-time task must still run";
    unsetenv("PEDAL_RT");
    if (observed.policy == SCHED_FIFO) {
        EXPECT_EQ(observed.priority, 59);
    }
    TaskPlacement expected = porting::taskPlacement(59, 1, int(sysconf(_SC_NPROCESSORS_CONF)));
    if (CPU_COUNT(&observed.cpus) == 1) {
        EXPECT_TRUE(CPU_ISSET(expected.cpu, &observed.cpus));
    }
}

TEST(Shims, ClockIsTimeOfDayAndTestsCanReplaceIt) {
    int64_t now = esp_timer_get_time();
    EXPECT_GT(now, int64_t(1700000000) * 1000000);
    porting::setClock([] { return int64_t(42); });
    EXPECT_EQ(esp_timer_get_time(), 42);
    porting::setClock({});
    EXPECT_GE(esp_timer_get_time(), now);
}
