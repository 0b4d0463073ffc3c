#pragma once
// The system's log line: one printf to standard output with a level prefix and the module's tag. The format
// carries its own "\n".
#include <cstdio>

#define LOGI(tag, fmt, ...) std::printf("I (%s): " fmt, tag __VA_OPT__(, ) __VA_ARGS__)
#define LOGW(tag, fmt, ...) std::printf("W (%s): " fmt, tag __VA_OPT__(, ) __VA_ARGS__)
#define LOGE(tag, fmt, ...) std::printf("ERROR (%s): " fmt, tag __VA_OPT__(, ) __VA_ARGS__)
