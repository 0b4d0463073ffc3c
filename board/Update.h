#pragma once
// Boot selection and firmware install.
//
// The program started at boot reads GPIO line 40 ("gpioget 0 40" through the command runner). Line at 1: it
// runs the installed image (homePath() + "/app_run") with "APP_CALLED" set and waits for it to end; then, or
// at once when the line reads anything else, it goes on as the recovery application. Started with
// "APP_CALLED" set, or when the line cannot be read, the program is the full application.
//
// On the host the recording command runner stands in for the shell; the level of line 40 comes from the
// environment variable PEDAL_GPIO40 ("1" or "0"); without it the line cannot be read. The image itself is
// started for real.
//
// The image arrives through the remote commands "supd SIZE" (update_start) and "upd HEX" (update_data); the
// replies are decimal texts. The new image is written beside the old one and renamed over it only when it is
// complete on disk, so a failed install leaves the working image untouched and a running image can be
// replaced; it runs at the next boot that reads 1 on line 40.
//
// Threads: initialize runs on the main thread at start-up; update_start, update_data and update_abort run on
// the "comTasks" thread, one request at a time; forwardStop runs in a signal handler. Nothing here locks.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Update {
public:
    // Most image bytes one "upd" request carries.
    static constexpr int batch_size = 2048;
    // Largest image accepted by "supd". The image is held in memory until it is written; the memory grows with
    // the bytes received, never beyond the announced size, so announcing a size costs nothing.
    static constexpr long kMaxImageBytes = 128L * 1024 * 1024;
    // The command that reads the boot selection line.
    static constexpr const char* kBootLineCommand = "gpioget 0 40";
    // Set in the environment of the image started by the boot selection.
    static constexpr const char* kAppCalledVariable = "APP_CALLED";
    // On the host: the simulated level of line 40.
    static constexpr const char* kSimulatedLineVariable = "PEDAL_GPIO40";

    // The boot selection; called by System::initialize. Runs once; later calls return at once.
    static void initialize();
    static bool isEnabled();
    static bool isRecovery();
    // The value of the system item "_upd" in the recovery application: the upload command's name.
    static const char* getFormat();

    // "supd": starts a transfer of `size` bytes (a decimal number from 1 to kMaxImageBytes), dropping any
    // transfer in progress. Replies the batch size. A size that is refused leaves no transfer in progress, so
    // the following "upd" replies "0". Nothing is allocated yet.
    static std::string update_start(std::string size);
    // "upd": stores the next bytes, given as hexadecimal pairs (at most batch_size pairs are taken; pairs past
    // the announced size are ignored). Replies the count received so far; after the last byte, the image size
    // once the image is written, or "0" when it could not be written. Odd-length or non-hexadecimal text, or
    // text without a transfer in progress, stores nothing and replies the unchanged count. After a failed
    // write, every "upd" tries the write again. "0" also when the memory for the bytes runs out; the transfer
    // is then dropped.
    static std::string update_data(std::string hex);
    // Drops the transfer in progress.
    static void update_abort();

    // For a SIGTERM handler (async-signal-safe): passes the stop on to the installed image while the boot
    // selection waits for it, also when the image is about to start, so the wait ends once the image has ended
    // in order.
    static void forwardStop();

    // Where the installed image lives.
    static std::string imagePath();

private:
    static bool readBootLine(std::string& line);
    static void runImage();
    static bool writeImage();
    static void reset();

    static std::vector<uint8_t> image;
    static int received_bytes;
    static int update_bytes;
    static bool recovery;
    static bool enabled;
    static bool initialized;
};
