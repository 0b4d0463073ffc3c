#include "porting/Mac.h"

#include "porting/Log.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char* const TAG = "MAC Read";

bool readAdapterAddress(int deviceId, bdaddr_t& address) {
    int hci = socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, BTPROTO_HCI);
    if (hci < 0) return false;
    hci_dev_info info{};
    info.dev_id = uint16_t(deviceId);
    bool ok = ioctl(hci, HCIGETDEVINFO, &info) == 0;
    int error = errno;
    close(hci);
    errno = error;
    if (ok) address = info.bdaddr;
    return ok;
}
}

void esp_read_mac(uint8_t mac[6], int type) {
    std::memset(mac, 0, 6);
    bdaddr_t address{};
    if (!readAdapterAddress(0, address)) {
        LOGE(TAG, "Cannot read the address of hci0: %s\n", std::strerror(errno));
        return;
    }
    char text[18];
    ba2str(&address, text);
    LOGI(TAG, "Bluetooth MAC of hci0: %s\n", text);
    // bdaddr_t holds the address least significant byte first.
    for (int i = 0; i < 6; ++i) mac[i] = address.b[5 - i];
    mac[5] = uint8_t(mac[5] + type);
}
