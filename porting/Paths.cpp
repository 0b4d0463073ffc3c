#include "porting/Paths.h"

#include <cstdlib>

std::string homePath() {
#ifdef PEDAL_DEVICE
    return "/home";
#else
    const char* home = std::getenv("PEDAL_HOME");
    if (home && *home) return home;
    return "pedal-home";
#endif
}

std::string devicePath(const std::string& path) {
#ifdef PEDAL_DEVICE
    return path;
#else
    const char* root = std::getenv("PEDAL_DEV_ROOT");
    if (!root || !*root) return "";
    return std::string(root) + path;
#endif
}
