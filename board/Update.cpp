#include "board/Update.h"

#include "porting/CommandRunner.h"
#include "porting/Log.h"
#include "porting/Paths.h"
#ifdef PEDAL_HOST
#include "porting/RecordingCommandRunner.h"
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
const char* const TAG = "Update";
// The boot selection reads one line of at most this many characters, as a fixed line buffer would.
constexpr size_t kBootLineMax = 9;

// Shared with forwardStop, which runs in a signal handler: the image's process id while it runs, and whether
// a stop came.
volatile sig_atomic_t imageProcess = 0;
volatile sig_atomic_t stopRequested = 0;
static_assert(sizeof(sig_atomic_t) >= sizeof(pid_t), "a process id fits");

#ifdef PEDAL_HOST
// The host has no GPIO line 40: the recording runner answers its read with the level in PEDAL_GPIO40.
void simulateBootLine(CommandRunner& runner) {
    const char* level = std::getenv(Update::kSimulatedLineVariable);
    auto* recording = dynamic_cast<RecordingCommandRunner*>(&runner);
    if (!level || !*level || !recording) return;
    recording->answer(Update::kBootLineCommand, 0, std::string(level) + "\n");
}
#endif

bool isHexText(const std::string& text) {
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

uint8_t hexValue(char c) {
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    return uint8_t(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Makes the rename itself durable. Some file systems cannot sync a folder (EINVAL); their renames are
// as durable as they get.
bool syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}
}

std::vector<uint8_t> Update::image;
int Update::received_bytes = 0;
int Update::update_bytes = 0;
bool Update::recovery = false;
bool Update::enabled = false;
bool Update::initialized = false;

void Update::initialize() {
    if (initialized) return;
    enabled = true;
    LOGI(TAG, "initialized\n");
    if (std::getenv(kAppCalledVariable)) {
        LOGI(TAG, "Started main app\n");
        initialized = true;
        return;
    }
    std::string line;
    if (!readBootLine(line)) {
        // Without a readable selection line the device must still work: it starts as the full application.
        initialized = true;
        return;
    }
    // Set before the image starts so it inherits it, and kept: this process is no longer the boot selector.
    ::setenv(kAppCalledVariable, "1", 1);
    if (line[0] == '1') runImage();
    if (stopRequested) {
        // The stop was meant for the device, not for the image alone: no recovery application follows.
        LOGI(TAG, "stopped during the boot wait\n");
        initialized = true;
        return;
    }
    LOGI(TAG, "running update app\n");
    recovery = true;
    initialized = true;
}

bool Update::isEnabled() { return enabled; }

bool Update::isRecovery() { return recovery; }

const char* Update::getFormat() { return "upd"; }

std::string Update::imagePath() { return homePath() + "/app_run"; }

bool Update::readBootLine(std::string& line) {
    std::shared_ptr<CommandRunner> runner = CommandRunner::current();
#ifdef PEDAL_HOST
    simulateBootLine(*runner);
#endif
    std::string output;
    runner->read(kBootLineCommand, output);
    if (output.empty()) return false;
    size_t end = output.find('\n');
    end = end == std::string::npos ? output.size() : end + 1;
    line = output.substr(0, std::min(end, kBootLineMax));
    return true;
}

void Update::runImage() {
    std::string path = imagePath();
    char* argv[] = {path.data(), nullptr};
    pid_t child = 0;
    // The image writes to the same output: what this process logged so far comes first.
    std::fflush(stdout);
    int error = ::posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
        LOGE(TAG, "cannot start %s: %s\n", path.c_str(), std::strerror(error));
        return;
    }
    imageProcess = child;
    // A stop that came while the image was being started had no process to reach.
    if (stopRequested) ::kill(child, SIGTERM);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            imageProcess = 0;
            LOGE(TAG, "lost the application image: %s\n", std::strerror(errno));
            return;
        }
    }
    imageProcess = 0;
    if (WIFEXITED(status)) {
        LOGI(TAG, "application image ended with status %d\n", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        LOGI(TAG, "application image ended by signal %d\n", WTERMSIG(status));
    }
}

void Update::forwardStop() {
    const int savedErrno = errno;
    stopRequested = 1;
    const pid_t image = imageProcess;
    if (image > 0) ::kill(image, SIGTERM);
    errno = savedErrno;
}

void Update::reset() {
    received_bytes = 0;
    update_bytes = 0;
    image.clear();
    image.shrink_to_fit();
}

std::string Update::update_start(std::string size) {
    if (!initialized) initialize();
    reset();
    LOGI(TAG, "start: %s\n", size.c_str());
    long announced = 0;
    const char* first = size.data();
    const char* last = first + size.size();
    auto [end, error] = std::from_chars(first, last, announced, 10);
    if (size.empty() || !std::isdigit(static_cast<unsigned char>(size[0])) || error != std::errc() || end != last ||
        announced < 1 || announced > kMaxImageBytes) {
        LOGE(TAG, "size refused: %s\n", size.c_str());
        return std::to_string(batch_size);
    }
    update_bytes = int(announced);
    return std::to_string(batch_size);
}

std::string Update::update_data(std::string hex) {
    if (update_bytes > 0 && received_bytes == update_bytes) {
        // The image is complete but its write failed: this request asks for it again.
        if (!writeImage()) return "0";
        int size = update_bytes;
        reset();
        return std::to_string(size);
    }
    if (hex.size() % 2 != 0 || received_bytes >= update_bytes || !isHexText(hex)) {
        LOGE(TAG, "failed\n");
        return std::to_string(received_bytes);
    }
    size_t pairs = std::min({hex.size() / 2, size_t(batch_size), size_t(update_bytes - received_bytes)});
    size_t needed = image.size() + pairs;
    if (image.capacity() < needed) {
        // Doubling keeps the copies few; the announced size bounds it.
        size_t capacity = std::min(std::max(image.capacity() * 2, needed), size_t(update_bytes));
        try {
            image.reserve(capacity);
        } catch (const std::bad_alloc&) {
            LOGE(TAG, "no memory for %zu bytes\n", capacity);
            reset();
            return "0";
        }
    }
    for (size_t i = 0; i < pairs; ++i) image.push_back(uint8_t(hexValue(hex[2 * i]) << 4 | hexValue(hex[2 * i + 1])));
    received_bytes += int(pairs);
    if (received_bytes < update_bytes) return std::to_string(received_bytes);
    if (!writeImage()) return "0";
    int size = update_bytes;
    reset();
    return std::to_string(size);
}

void Update::update_abort() { reset(); }

bool Update::writeImage() {
    const std::string path = imagePath();
    const std::string partial = path + ".new";
    int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0700);
    if (fd < 0) {
        LOGE(TAG, "error opening file\n");
        return false;
    }
    bool written = writeAll(fd, image.data(), image.size()) && ::fsync(fd) == 0;
    if (!written) LOGE(TAG, "write error: %s\n", std::strerror(errno));
    bool executable = written && ::fchmod(fd, 0755) == 0;
    if (written && !executable) LOGE(TAG, "chmod error\n");
    if (::close(fd) != 0 && executable) {
        LOGE(TAG, "write error: %s\n", std::strerror(errno));
        executable = false;
    }
    if (!executable) {
        ::unlink(partial.c_str());
        return false;
    }
    // The rename replaces the image in one step: a reader, or a boot after a power cut, sees either the old
    // image or the new one, and a running image keeps its own copy until it ends.
    if (::rename(partial.c_str(), path.c_str()) != 0) {
        LOGE(TAG, "cannot install %s: %s\n", path.c_str(), std::strerror(errno));
        ::unlink(partial.c_str());
        return false;
    }
    if (!syncFolder(folderOf(path))) {
        LOGE(TAG, "cannot sync the image folder: %s\n", std::strerror(errno));
        return false;
    }
    LOGI(TAG, "done %d bytes\n", update_bytes);
    return true;
}
