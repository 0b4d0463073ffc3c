#pragma once
// Embedded-RTOS-style names for the process services every module uses: clock, sleeps and threads.
#include <cstdint>
#include <functional>

// Time of day in microseconds; the time base of every period, debounce and time stamp.
int64_t esp_timer_get_time();
// Monotonic nanoseconds, for the timing statistics.
uint64_t xthal_get_ccount();
// Sleeps the calling thread for the given microseconds.
void vTaskDelay(uint32_t us);

using TaskFunction_t = void (*)(void*);
using TaskHandle_t = void*;
// Starts a detached thread running fn(arg). Priority 0 keeps normal scheduling, 1..20 becomes nice -priority,
// 21 or more real-time FIFO at that priority; core 1 runs on CPU 3, 2 on CPU 2, 3 on CPU 1, others on CPU 0.
// Returns 1 on success, 0 when the thread could not be started.
int xTaskCreatePinnedToCore(TaskFunction_t fn, const char* name, uint32_t stackSize, void* arg, int priority,
                            TaskHandle_t* handle, int core);
// Suspend and resume are signals to the thread (SIGUSR1 parks it in the handler until SIGUSR2). Suspend
// returns once the thread has stopped; a null handle names the calling task; a task that has ended is left
// alone. On the host, real-time priorities and CPU affinity are taken only with PEDAL_RT=1; a refused
// priority or affinity is logged once and the thread runs without it.
void vTaskSuspend(TaskHandle_t handle);
void vTaskResume(TaskHandle_t handle);

// Does nothing: nothing restarts the process from inside.
void esp_restart();

namespace porting {
// Tests install their own clock for esp_timer_get_time; an empty function restores the real one.
void setClock(std::function<int64_t()> clock);
}
