#pragma once
// How a task's embedded-RTOS priority and core become Linux scheduling: a pure mapping, so it can be checked
// without starting threads or holding privileges.

namespace porting {

struct TaskPlacement {
    enum class Policy { Normal, Nice, Fifo };
    Policy policy = Policy::Normal;
    int nice = 0;         // for Policy::Nice: minus the task priority
    int fifoPriority = 0; // for Policy::Fifo: the task priority
    int cpu = 0;
};

// Priority 0 (or below) keeps normal scheduling, 1..20 becomes nice -priority, 21 or more FIFO at that
// priority. Core 1 runs on CPU 3, core 2 on CPU 2, core 3 on CPU 1, any other on CPU 0. The dedicated CPUs
// are meant to be away from CPU 0, where every other thread runs; on a machine with fewer CPUs a CPU that
// does not exist becomes the last one there is, so the dedicated threads still stay off CPU 0 when possible.
TaskPlacement taskPlacement(int priority, int core, int cpuCount);

}
