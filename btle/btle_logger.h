// Logger of the Bluetooth LE library: one line per message, "<date time.ms> <LEVEL> [<tag>] <message>",
// to standard output, a size-limited rotating file, or an installed handler.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum {
    LOG_LEVEL_DEBUG = 0,
    LOG_LEVEL_INFO = 1,
    LOG_LEVEL_WARN = 2,
    LOG_LEVEL_ERROR = 3,
};

typedef void (*log_handler_t)(int level, const char* tag, const char* message);

void log_set_level(int level);
int log_get_level(void);
void log_enabled(int enabled);
// From then on every message goes to the handler only (NULL goes back to the file or standard output).
void log_set_handler(log_handler_t handler);
// max_size 0 means 65536 bytes, max_files 0 means 5.
void log_set_filename(const char* filename, unsigned long long max_size, int max_files);
void log_log_at_level(int level, const char* tag, const char* format, ...) __attribute__((format(printf, 3, 4)));

#define log_debug(tag, ...) log_log_at_level(LOG_LEVEL_DEBUG, tag, __VA_ARGS__)
#define log_info(tag, ...) log_log_at_level(LOG_LEVEL_INFO, tag, __VA_ARGS__)
#define log_warn(tag, ...) log_log_at_level(LOG_LEVEL_WARN, tag, __VA_ARGS__)
#define log_error(tag, ...) log_log_at_level(LOG_LEVEL_ERROR, tag, __VA_ARGS__)

#ifdef __cplusplus
}
#endif
