#include "btle/btle_logger.h"

#include <glib.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

namespace {

constexpr unsigned long long DEFAULT_MAX_SIZE = 65536;
constexpr int DEFAULT_MAX_FILES = 5;
constexpr size_t MESSAGE_SIZE = 1024;

struct LogSettingsRecord {
    int enabled;
    int level;
    FILE* fout;
    char filename[256];
    unsigned long long max_size;
    int max_files;
    unsigned long long current_size;
    log_handler_t handler;
};

// Written once at the start of the BLE thread; read without a lock by every log call.
LogSettingsRecord LogSettings = {1, LOG_LEVEL_DEBUG, nullptr, {0}, DEFAULT_MAX_SIZE, DEFAULT_MAX_FILES, 0, nullptr};

const char* const LEVEL_NAMES[] = {"DEBUG", "INFO", "WARN", "ERROR"};

unsigned long long file_size(const char* filename) {
    struct stat info;
    if (stat(filename, &info) != 0) return 0;
    return (unsigned long long)info.st_size;
}

void open_log_file() {
    LogSettings.fout = fopen(LogSettings.filename, "a");
    if (LogSettings.fout == nullptr) {
        LogSettings.fout = stdout;
        LogSettings.current_size = 0;
    } else {
        LogSettings.current_size = file_size(LogSettings.filename);
    }
}

bool file_exists(const char* filename) {
    FILE* file = fopen(filename, "r");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

void rotate_log_files() {
    g_assert(LogSettings.fout != NULL);
    fclose(LogSettings.fout);
    LogSettings.fout = nullptr;
    for (int i = LogSettings.max_files; i > 0; i--) {
        char* target = g_strdup_printf("%s.%d", LogSettings.filename, i);
        char* source = i == 1 ? g_strdup(LogSettings.filename) : g_strdup_printf("%s.%d", LogSettings.filename, i - 1);
        if (file_exists(target)) remove(target);
        if (file_exists(source)) rename(source, target);
        g_free(target);
        g_free(source);
    }
    open_log_file();
}

void rotate_log_file_if_needed() {
    if (LogSettings.fout == nullptr && LogSettings.handler == nullptr) {
        LogSettings.fout = stdout;
    } else if (LogSettings.current_size >= LogSettings.max_size && LogSettings.fout != stdout &&
               LogSettings.handler == nullptr) {
        rotate_log_files();
    }
}

void format_timestamp(char* buffer, size_t size) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char datetime[64];
    strftime(datetime, sizeof datetime, "%F %R:%S", &local);
    long long milliseconds = ((long long)now.tv_usec / 1000 + (long long)now.tv_sec * 1000) % 1000;
    snprintf(buffer, size, "%s:%03lld", datetime, milliseconds);
}

} // namespace

void log_set_level(int level) { LogSettings.level = level; }

int log_get_level(void) { return LogSettings.level; }

void log_enabled(int enabled) { LogSettings.enabled = enabled; }

void log_set_handler(log_handler_t handler) { LogSettings.handler = handler; }

void log_set_filename(const char* filename, unsigned long long max_size, int max_files) {
    g_assert(filename != NULL);
    g_assert(strlen(filename) > 0);
    if (LogSettings.fout != nullptr && LogSettings.fout != stdout) fclose(LogSettings.fout);
    LogSettings.fout = nullptr;
    LogSettings.max_size = max_size == 0 ? DEFAULT_MAX_SIZE : max_size;
    LogSettings.max_files = max_files == 0 ? DEFAULT_MAX_FILES : max_files;
    g_strlcpy(LogSettings.filename, filename, sizeof LogSettings.filename);
    open_log_file();
}

void log_log_at_level(int level, const char* tag, const char* format, ...) {
    rotate_log_file_if_needed();
    if (level < LogSettings.level || !LogSettings.enabled) return;

    char message[MESSAGE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);

    if (LogSettings.handler != nullptr) {
        LogSettings.handler(level, tag, message);
        return;
    }
    char timestamp[96];
    format_timestamp(timestamp, sizeof timestamp);
    const char* levelName = level >= 0 && level <= LOG_LEVEL_ERROR ? LEVEL_NAMES[level] : "?";
    int written = fprintf(LogSettings.fout, "%s %s [%s] %s\n", timestamp, levelName, tag, message);
    if (written > 0) {
        LogSettings.current_size += (unsigned long long)written;
        fflush(LogSettings.fout);
    }
}
