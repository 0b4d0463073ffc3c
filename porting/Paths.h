#pragma once
#include <string>

// The folder that holds the persisted state: "/home" on the device; on the host $PEDAL_HOME, or
// "pedal-home" under the working directory, never the machine's real /home.
std::string homePath();
// Where a device path such as "/dev/ttyGS0" is opened: unchanged on the device; on the host below
// $PEDAL_DEV_ROOT, or "" (do not open) when that is not set.
std::string devicePath(const std::string& path);
