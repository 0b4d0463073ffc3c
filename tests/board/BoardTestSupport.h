#pragma once
// Shared helpers of the board tests: a state folder per test, file contents, and one-shot probes run in a
// forked child so that process-wide, run-once modules (boot selection, system tree) start fresh per case.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/TestSupport.h"

namespace boardtest {

using testsupport::readFile;

// The test's own empty home, made by the test main.
using testsupport::ownHome;

inline void writeFile(const std::string& path, const std::string& content, std::filesystem::perms mode) {
    testsupport::writeFile(path, content);
    std::filesystem::permissions(path, mode);
}

// How many pixels of the display box x1..x2, y1..y2 are light (blue above 0xC0) in the framebuffer file
// (320 x 240 RGB565, the display from row 35); -1 when the file is short.
inline int lightPixels(const std::string& home, int x1, int y1, int x2, int y2) {
    std::ifstream file(home + "/fb0", std::ios::binary);
    std::vector<uint16_t> pixels(320 * 240);
    file.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size() * 2));
    if (!file) return -1;
    int light = 0;
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x) {
            const uint32_t blue = pixels[size_t((y + 35) * 320 + x)] & 0x1F;
            if (((blue << 3) | (blue >> 2)) > 0xC0) ++light;
        }
    }
    return light;
}

// Runs body in a forked child and returns what it wrote into `report` (a text), or a failure note when the
// child did not end normally. The child ends with _exit, so no test framework state is torn down twice.
inline std::string inChild(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        std::string report = body();
        std::fflush(stdout);
        ssize_t ignored = write(fds[1], report.data(), report.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[512];
    ssize_t count;
    while ((count = read(fds[0], buffer, sizeof(buffer))) > 0) report.append(buffer, size_t(count));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + report;
    return report;
}

}
