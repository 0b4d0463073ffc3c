#pragma once
#include <atomic>

// The time module: the "eventTasks" thread marks it initialised once its passes run.
class Time {
public:
    static void tasks();
    static bool isInitialized();

private:
    static std::atomic<bool> initialized;
};
