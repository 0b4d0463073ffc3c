#!/usr/bin/python3
"""A stand-in for BlueZ on a private bus that also plays the phone (the central).

It owns "org.bluez" and offers one adapter, /org/bluez/hci0, with the advertising and GATT managers. When
the pedal registers its GATT application, it reads the application's objects like BlueZ does and listens to
their PropertiesChanged signals (notifications). The test drives the central through the interface
"org.pedal.TestCentral" at /test: writes and reads of a characteristic by UUID, connect and disconnect, and
what the pedal registered. Arguments: the bus address, then "--no-adapter" to offer no adapter.
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ADAPTER_PATH = '/org/bluez/hci0'
DEVICE_PATH = ADAPTER_PATH + '/dev_11_22_33_44_55_66'
PROPERTIES = 'org.freedesktop.DBus.Properties'
OBJECT_MANAGER = 'org.freedesktop.DBus.ObjectManager'
TEST = 'org.pedal.TestCentral'


class Error(dbus.DBusException):
    def __init__(self, name, message):
        super().__init__(message)
        self._dbus_error_name = name


class State:
    def __init__(self):
        self.adapter = {
            'Address': dbus.String('00:11:22:33:44:55'),
            'Alias': dbus.String('hci0'),
            'Powered': dbus.Boolean(False),
            'Discoverable': dbus.Boolean(False),
            'Pairable': dbus.Boolean(True),
            'Connectable': dbus.Boolean(True),
            'Discovering': dbus.Boolean(False),
        }
        self.advertisement = None  # (owner, path) while registered
        self.advertisement_properties = dbus.Dictionary({}, signature='sv')
        self.registrations = 0
        self.unregistrations = 0
        self.application = None  # (owner, path)
        self.objects = dbus.Dictionary({}, signature='oa{sa{sv}}')
        self.notifications = {}  # characteristic path -> list of byte strings


class Root(dbus.service.Object):
    def __init__(self, bus, state, with_adapter):
        super().__init__(bus, '/')
        self.state = state
        self.with_adapter = with_adapter

    @dbus.service.method(OBJECT_MANAGER, out_signature='a{oa{sa{sv}}}')
    def GetManagedObjects(self):
        if not self.with_adapter:
            return dbus.Dictionary({}, signature='oa{sa{sv}}')
        return dbus.Dictionary({ADAPTER_PATH: {'org.bluez.Adapter1': dbus.Dictionary(self.state.adapter, signature='sv')}},
                               signature='oa{sa{sv}}')

    @dbus.service.signal(OBJECT_MANAGER, signature='oa{sa{sv}}')
    def InterfacesAdded(self, path, interfaces):
        pass


class Adapter(dbus.service.Object):
    def __init__(self, bus, state):
        super().__init__(bus, ADAPTER_PATH)
        self.bus = bus
        self.state = state

    @dbus.service.method(PROPERTIES, in_signature='ssv')
    def Set(self, interface, name, value):
        self.state.adapter[name] = value
        self.PropertiesChanged(interface, {name: value}, [])

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.state.adapter[name]

    @dbus.service.signal(PROPERTIES, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.method('org.bluez.LEAdvertisingManager1', in_signature='oa{sv}', sender_keyword='sender')
    def RegisterAdvertisement(self, path, options, sender=None):
        if self.state.advertisement is not None:
            raise Error('org.bluez.Error.AlreadyExists', 'Already Exists')
        advertisement = self.bus.get_object(sender, path, introspect=False)
        self.state.advertisement_properties = advertisement.GetAll('org.bluez.LEAdvertisement1',
                                                                   dbus_interface=PROPERTIES)
        self.state.advertisement = (sender, path)
        self.state.registrations += 1

    @dbus.service.method('org.bluez.LEAdvertisingManager1', in_signature='o')
    def UnregisterAdvertisement(self, path):
        if self.state.advertisement is None or self.state.advertisement[1] != path:
            raise Error('org.bluez.Error.DoesNotExist', 'Does Not Exist')
        self.state.advertisement = None
        self.state.unregistrations += 1

    @dbus.service.method('org.bluez.GattManager1', in_signature='oa{sv}', sender_keyword='sender')
    def RegisterApplication(self, path, options, sender=None):
        if self.state.application is not None:
            raise Error('org.bluez.Error.AlreadyExists', 'Already Exists')
        application = self.bus.get_object(sender, path, introspect=False)
        self.state.objects = application.GetManagedObjects(dbus_interface=OBJECT_MANAGER)
        self.state.application = (sender, path)
        self.bus.add_signal_receiver(self.on_properties_changed, signal_name='PropertiesChanged',
                                     dbus_interface=PROPERTIES, bus_name=sender, path_keyword='path')

    @dbus.service.method('org.bluez.GattManager1', in_signature='o')
    def UnregisterApplication(self, path):
        if self.state.application is None or self.state.application[1] != path:
            raise Error('org.bluez.Error.DoesNotExist', 'Does Not Exist')
        self.state.application = None

    def on_properties_changed(self, interface, changed, invalidated, path=None):
        if interface == 'org.bluez.GattCharacteristic1' and 'Value' in changed:
            self.state.notifications.setdefault(path, []).append(bytes(changed['Value']))


class Device(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, DEVICE_PATH)

    @dbus.service.signal(PROPERTIES, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class Central(dbus.service.Object):
    def __init__(self, bus, state, root, device):
        super().__init__(bus, '/test')
        self.bus = bus
        self.state = state
        self.root = root
        self.device = device

    def characteristic(self, uuid):
        if self.state.application is None:
            raise Error('org.pedal.Error.NoApplication', 'no application registered')
        for path, interfaces in self.state.objects.items():
            properties = interfaces.get('org.bluez.GattCharacteristic1')
            if properties is not None and properties['UUID'] == uuid:
                return self.bus.get_object(self.state.application[0], path, introspect=False), path
        raise Error('org.pedal.Error.NoCharacteristic', uuid)

    @dbus.service.method(TEST, in_signature='saya{sv}', out_signature='s')
    def Write(self, uuid, value, options):
        characteristic, _ = self.characteristic(uuid)
        try:
            characteristic.WriteValue(dbus.Array(value, signature='y'), options,
                                      dbus_interface='org.bluez.GattCharacteristic1')
        except dbus.DBusException as error:
            return error.get_dbus_name()
        return ''

    @dbus.service.method(TEST, in_signature='s', out_signature='say')
    def Read(self, uuid):
        characteristic, _ = self.characteristic(uuid)
        try:
            value = characteristic.ReadValue(dbus.Dictionary({'device': dbus.ObjectPath(DEVICE_PATH)}, signature='sv'),
                                              dbus_interface='org.bluez.GattCharacteristic1')
        except dbus.DBusException as error:
            return error.get_dbus_name(), dbus.Array([], signature='y')
        return '', dbus.Array(value, signature='y')

    @dbus.service.method(TEST, in_signature='s')
    def StartNotify(self, uuid):
        characteristic, _ = self.characteristic(uuid)
        characteristic.StartNotify(dbus_interface='org.bluez.GattCharacteristic1')

    @dbus.service.method(TEST, in_signature='s', out_signature='aay')
    def TakeNotifications(self, uuid):
        _, path = self.characteristic(uuid)
        received = self.state.notifications.pop(path, [])
        return dbus.Array([dbus.ByteArray(value) for value in received], signature='ay')

    @dbus.service.method(TEST, out_signature='a{oa{sa{sv}}}')
    def ReadObjects(self):
        """The application's objects as they are now (BlueZ read them once, at registration)."""
        if self.state.application is None:
            return dbus.Dictionary({}, signature='oa{sa{sv}}')
        application = self.bus.get_object(self.state.application[0], self.state.application[1], introspect=False)
        return application.GetManagedObjects(dbus_interface=OBJECT_MANAGER)

    @dbus.service.method(TEST, out_signature='sa{oa{sa{sv}}}')
    def Application(self):
        path = self.state.application[1] if self.state.application is not None else ''
        return path, self.state.objects

    @dbus.service.method(TEST, out_signature='buua{sv}')
    def Advertising(self):
        return (self.state.advertisement is not None, self.state.registrations, self.state.unregistrations,
                self.state.advertisement_properties)

    @dbus.service.method(TEST, out_signature='a{sv}')
    def Adapter(self):
        return dbus.Dictionary(self.state.adapter, signature='sv')

    @dbus.service.method(TEST)
    def Connect(self):
        self.root.InterfacesAdded(dbus.ObjectPath(DEVICE_PATH), {'org.bluez.Device1': dbus.Dictionary({
            'Address': dbus.String('11:22:33:44:55:66'),
            'AddressType': dbus.String('random'),
            'Adapter': dbus.ObjectPath(ADAPTER_PATH),
            'Connected': dbus.Boolean(True),
            'Paired': dbus.Boolean(False),
            'Trusted': dbus.Boolean(False),
        }, signature='sv')})

    @dbus.service.method(TEST)
    def Disconnect(self):
        self.device.PropertiesChanged('org.bluez.Device1', {'Connected': dbus.Boolean(False)}, [])


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    state = State()
    root = Root(bus, state, '--no-adapter' not in sys.argv[2:])
    Adapter(bus, state)
    device = Device(bus)
    Central(bus, state, root, device)
    bus.request_name('org.bluez')
    GLib.MainLoop().run()


if __name__ == '__main__':
    main()
