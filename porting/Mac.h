#pragma once
#include <cstdint>

// The Bluetooth address of "hci0" in display order, with `type` added to the last byte. Logs the adapter's
// address; on failure logs the system error and leaves all six bytes zero.
void esp_read_mac(uint8_t mac[6], int type);
