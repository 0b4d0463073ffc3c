#pragma once
#include <functional>
#include <string>

class ComInterface;

// The firmware updater behind "supd" and "upd". The updater belongs to the board, which this folder must not
// depend on, so the board installs it at start-up; until then the two commands produce nothing, like any
// other command that finds no target. All calls come from the "comTasks" thread.
class RemoteServices {
public:
    // Firmware image upload; each returns the reply text.
    struct Firmware {
        std::function<std::string(const std::string& size)> start;
        std::function<std::string(const std::string& hex)> data;
    };

    static void setFirmware(Firmware firmware);
    static const Firmware& firmware();

    // The transport that started the firmware transfer in progress; another transport's data is refused, so
    // two uploads never interleave into one image. Null before the first start.
    static ComInterface* firmwareOwner();
    static void setFirmwareOwner(ComInterface* owner);
};
