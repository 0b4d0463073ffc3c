#pragma once
// The BlueZ and D-Bus names the library's objects talk to (internal to the library).
namespace btle_names {
inline const char* const BLUEZ_DBUS = "org.bluez";
inline const char* const INTERFACE_ADAPTER = "org.bluez.Adapter1";
inline const char* const INTERFACE_DEVICE = "org.bluez.Device1";
inline const char* const INTERFACE_AGENT_MANAGER = "org.bluez.AgentManager1";
inline const char* const INTERFACE_ADVERTISING_MANAGER = "org.bluez.LEAdvertisingManager1";
inline const char* const INTERFACE_GATT_MANAGER = "org.bluez.GattManager1";
inline const char* const INTERFACE_SERVICE = "org.bluez.GattService1";
inline const char* const INTERFACE_CHARACTERISTIC = "org.bluez.GattCharacteristic1";
inline const char* const INTERFACE_DESCRIPTOR = "org.bluez.GattDescriptor1";
inline const char* const INTERFACE_PROPERTIES = "org.freedesktop.DBus.Properties";
inline const char* const INTERFACE_OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager";
}
