// The Bluetooth LE library over BlueZ's D-Bus interface. Every header declares plain C-linkage functions
// (extern "C"), so its sources may be compiled as C or C++; this project compiles them as C++20.
// Argument checks guarding programming errors are g_assert (they print the expression and stop);
// soft checks of outside data are g_return_val_if_fail (a GLib critical line and an error result).
// The connection is the caller's: on the device g_bus_get_sync(G_BUS_TYPE_SYSTEM), which honours
// DBUS_SYSTEM_BUS_ADDRESS, so tests point the library at a private bus through that variable.
#pragma once

#include "btle/btle_types.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"
#include "btle/btle_parser.h"
#include "btle/btle_adapter.h"
#include "btle/btle_advertisement.h"
#include "btle/btle_device.h"
#include "btle/btle_remote_characteristic.h"
#include "btle/btle_agent.h"
#if __has_include("btle_application.h")
#include "btle/btle_application.h"
#endif
