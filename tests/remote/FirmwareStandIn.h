#pragma once
// The firmware updater's side of "supd"/"upd" as the remote processor sees it: "2048" for a start, the bytes
// received so far for each batch of at most 2048, the image size once the image is complete. The image is
// kept in memory.
#include "RemoteServices.h"

#include <cstdlib>
#include <string>

struct FirmwareStandIn {
    std::string image;
    size_t total = 0;
    std::string written;

    void install() {
        RemoteServices::setFirmware({
            [this](const std::string& size) {
                total = std::strtoul(size.c_str(), nullptr, 10);
                if (total > (1u << 20)) total = 0;
                image.clear();
                return std::string("2048");
            },
            [this](const std::string& hex) { return data(hex); },
        });
    }

    std::string data(const std::string& hex) {
        if (hex.size() % 2 || image.size() >= total) return std::to_string(image.size());
        for (size_t i = 0; i + 1 < hex.size() && i < 4096 && image.size() < total; i += 2)
            image += char(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
        if (image.size() < total) return std::to_string(image.size());
        written = image;
        return std::to_string(total);
    }
};
