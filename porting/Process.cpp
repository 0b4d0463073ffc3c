#include "porting/Process.h"

#include "porting/Log.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
const char* const TAG = "Process";
const int MAX_FRAMES = 50;

void writeError(const char* text) {
    ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

// The signal's name from a fixed table and its number in decimal, built on the stack: strsignal may allocate
// or use locale data, neither of which is safe once the heap may be what broke.
void writeSignal(int signal) {
    const char* name = signal == SIGSEGV   ? "SIGSEGV"
                       : signal == SIGTRAP ? "SIGTRAP"
                       : signal == SIGABRT ? "SIGABRT"
                                           : "signal";
    writeError(name);
    char digits[16];
    char* end = digits + sizeof digits;
    char* start = end;
    *--start = '\0';
    *--start = ')';
    unsigned value = signal < 0 ? 0u : unsigned(signal);
    do {
        *--start = char('0' + value % 10);
        value /= 10;
    } while (value != 0 && start > digits + 2);
    *--start = '(';
    *--start = ' ';
    writeError(start);
}
}

std::string escape_sh(std::string text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '\'') escaped += "'\\''";
        else escaped += c;
    }
    return escaped;
}

int lock_memory() {
#ifndef PEDAL_DEVICE
    const char* rt = std::getenv("PEDAL_RT");
    if (!rt || std::strcmp(rt, "1") != 0) return 0;
#endif
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
        int error = errno;
        LOGE(TAG, "Cannot lock memory: %s\n", std::strerror(error));
        return -error;
    }
    return 0;
}

void handler(int signal) {
    // Only async-signal-safe calls from here on: the heap or stdio may be what broke.
    void* frames[MAX_FRAMES];
    int count = backtrace(frames, MAX_FRAMES);
    writeError("Fatal signal: ");
    writeSignal(signal);
    writeError("\n");
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    _exit(1);
}

void install_fatal_handler() {
    // backtrace() loads its unwinder on first use, which allocates; do that now rather than inside a crash.
    void* warmUp[1];
    backtrace(warmUp, 1);
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int fatal : {SIGSEGV, SIGTRAP, SIGABRT}) sigaction(fatal, &action, nullptr);
}
