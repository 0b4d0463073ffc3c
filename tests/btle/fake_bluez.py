#!/usr/bin/python3
"""A stand-in for BlueZ on a private bus, which also plays the phone (the central).

It owns "org.bluez" and offers adapters with the advertising and GATT managers, devices, remote GATT objects
and the agent manager. Where a test's meaning depends on it, it answers like the real daemon: a second
registration of the same object is refused with AlreadyExists, an unknown one with DoesNotExist; it reads an
advertisement's properties and an application's objects when they are registered and refuses them when it
cannot; it forgets the registrations of a client that leaves the bus or of an adapter that is removed; a
notification reaches the central cut to the link's ATT MTU less 3 bytes. The test drives it, and the central,
through the interface "org.pedal.FakeBluez" at /test. Stopping the process and starting it again is a
restart of the daemon: a new owner of the name, with nothing registered.

Arguments: the bus address, then the comma-separated adapter names ("hci0" when left out, "" for none).
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PROPERTIES = 'org.freedesktop.DBus.Properties'
OBJECT_MANAGER = 'org.freedesktop.DBus.ObjectManager'
ADVERTISING_MANAGER = 'org.bluez.LEAdvertisingManager1'
GATT_MANAGER = 'org.bluez.GattManager1'
CHARACTERISTIC = 'org.bluez.GattCharacteristic1'
CONTROL = 'org.pedal.FakeBluez'
CENTRAL_PATH = '/org/bluez/hci0/dev_11_22_33_44_55_66'


class Error(dbus.DBusException):
    def __init__(self, name, message):
        super().__init__(message)
        self._dbus_error_name = name


class State:
    def __init__(self, bus):
        self.bus = bus
        self.calls = []
        self.failures = {}  # method -> how many of its next calls fail
        self.objects = {}  # path -> {interface: {property: value}}
        self.exported = {}  # path -> Bluez object
        self.advertisements = {}  # adapter path -> (owner, path)
        self.advertisement_read = {'xml': '', 'props': dbus.Dictionary({}, signature='sv')}
        self.registrations = 0
        self.unregistrations = 0
        self.applications = {}  # adapter path -> (owner, path)
        self.application_objects = dbus.Dictionary({}, signature='oa{sa{sv}}')
        self.notifications = {}  # characteristic path -> list of byte strings
        self.watched = {}  # owner -> name watch
        self.listened = set()  # owners whose notifications the central receives
        self.link_mtu = 517

    def record(self, text):
        self.calls.append(text)

    def maybe_fail(self, method):
        if self.failures.get(method, 0) > 0:
            self.failures[method] -= 1
            raise Error('org.bluez.Error.Failed', 'forced failure')

    def emit(self, path, interface, member, signature, *args):
        message = dbus.lowlevel.SignalMessage(path, interface, member)
        message.append(*args, signature=signature)
        self.bus.send_message(message)

    def set_properties(self, path, interface, properties):
        self.objects.setdefault(path, {}).setdefault(interface, {}).update(properties)
        self.emit(path, PROPERTIES, 'PropertiesChanged', 'sa{sv}as', interface, properties, [])

    def export(self, path):
        if path not in self.exported:
            self.exported[path] = Bluez(self, path)

    def add_adapter(self, name):
        path = '/org/bluez/' + name
        self.export(path)
        self.objects[path] = {
            'org.bluez.Adapter1': {
                'Address': dbus.String('00:11:22:33:44:5' + name[-1]), 'Powered': dbus.Boolean(False),
                'Discovering': dbus.Boolean(False), 'Discoverable': dbus.Boolean(False),
                'Connectable': dbus.Boolean(True), 'Pairable': dbus.Boolean(True),
                'Alias': dbus.String('fake ' + name)},
            ADVERTISING_MANAGER: {},
            GATT_MANAGER: {},
        }
        return path

    def remove_object(self, path):
        interfaces = list(self.objects.pop(path, {}).keys()) or ['org.bluez.Device1']
        self.emit('/', OBJECT_MANAGER, 'InterfacesRemoved', 'oas', path, interfaces)

    def watch_owner(self, owner):
        # BlueZ forgets what a client registered once the client leaves the bus.
        if owner in self.watched:
            return

        def changed(new_owner):
            if new_owner:
                return
            for table in (self.advertisements, self.applications):
                for adapter in [a for a, (o, _) in table.items() if o == owner]:
                    del table[adapter]
        self.watched[owner] = self.bus.watch_name_owner(owner, changed)

    def on_properties_changed(self, interface, changed, invalidated, path=None):
        if interface == CHARACTERISTIC and 'Value' in changed:
            # The ATT layer carries at most MTU - 3 bytes of a notification and drops the rest.
            value = bytes(changed['Value'])[:self.link_mtu - 3]
            self.notifications.setdefault(path, []).append(value)


class Root(dbus.service.Object):
    def __init__(self, state):
        super().__init__(state.bus, '/')
        self.state = state

    @dbus.service.method(OBJECT_MANAGER, out_signature='a{oa{sa{sv}}}')
    def GetManagedObjects(self):
        self.state.record('GetManagedObjects')
        return dbus.Dictionary({p: dbus.Dictionary(i, signature='sa{sv}') for p, i in self.state.objects.items()},
                               signature='oa{sa{sv}}')


class Bluez(dbus.service.Object):
    """Any object BlueZ offers: adapter, device, remote GATT object; each answers the methods of its kind."""

    def __init__(self, state, path):
        super().__init__(state.bus, path)
        self.state = state
        self.path = path

    def owned(self):
        if self.path not in self.state.objects:
            raise Error('org.freedesktop.DBus.Error.UnknownObject', 'no object ' + self.path)

    @dbus.service.method(PROPERTIES, in_signature='ssv')
    def Set(self, interface, name, value):
        self.state.record('Set %s %s %s' % (self.path, name, value))
        self.owned()
        self.state.maybe_fail('Set')
        self.state.set_properties(self.path, interface, {name: value})

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.state.objects[self.path][interface][name]

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        self.state.record('GetAll %s' % self.path)
        self.owned()
        return dbus.Dictionary(self.state.objects[self.path].get(interface, {}), signature='sv')

    @dbus.service.method('org.bluez.Adapter1')
    def StartDiscovery(self):
        self.state.record('StartDiscovery')
        self.state.maybe_fail('StartDiscovery')

    @dbus.service.method('org.bluez.Adapter1')
    def StopDiscovery(self):
        self.state.record('StopDiscovery')
        self.state.maybe_fail('StopDiscovery')

    @dbus.service.method('org.bluez.Adapter1', in_signature='a{sv}')
    def SetDiscoveryFilter(self, options):
        self.state.record('SetDiscoveryFilter ' + ','.join('%s=%s' % (k, options[k]) for k in sorted(options)))

    @dbus.service.method('org.bluez.Adapter1', in_signature='o')
    def RemoveDevice(self, path):
        self.state.record('RemoveDevice %s' % path)

    @dbus.service.method(ADVERTISING_MANAGER, in_signature='oa{sv}', sender_keyword='sender')
    def RegisterAdvertisement(self, path, options, sender=None):
        self.state.record('RegisterAdvertisement %s' % path)
        self.owned()
        self.state.maybe_fail('RegisterAdvertisement')
        if self.path in self.state.advertisements:
            raise Error('org.bluez.Error.AlreadyExists', 'Already Exists')
        try:
            remote = self.state.bus.get_object(sender, path, introspect=False)
            xml = remote.Introspect(dbus_interface='org.freedesktop.DBus.Introspectable')
            props = remote.GetAll('org.bluez.LEAdvertisement1', dbus_interface=PROPERTIES)
        except dbus.DBusException:
            raise Error('org.bluez.Error.Failed', 'Failed to parse advertisement')
        self.state.advertisement_read = {'xml': str(xml), 'props': props}
        self.state.advertisements[self.path] = (sender, path)
        self.state.registrations += 1
        self.state.watch_owner(sender)

    @dbus.service.method(ADVERTISING_MANAGER, in_signature='o', sender_keyword='sender')
    def UnregisterAdvertisement(self, path, sender=None):
        self.state.record('UnregisterAdvertisement %s' % path)
        self.state.maybe_fail('UnregisterAdvertisement')
        if self.state.advertisements.get(self.path) != (sender, path):
            raise Error('org.bluez.Error.DoesNotExist', 'Does Not Exist')
        del self.state.advertisements[self.path]
        self.state.unregistrations += 1

    @dbus.service.method(GATT_MANAGER, in_signature='oa{sv}', sender_keyword='sender')
    def RegisterApplication(self, path, options, sender=None):
        self.state.record('RegisterApplication %s' % path)
        self.owned()
        self.state.maybe_fail('RegisterApplication')
        if self.path in self.state.applications:
            raise Error('org.bluez.Error.AlreadyExists', 'Already Exists')
        try:
            remote = self.state.bus.get_object(sender, path, introspect=False)
            objects = remote.GetManagedObjects(dbus_interface=OBJECT_MANAGER)
        except dbus.DBusException:
            raise Error('org.bluez.Error.Failed', 'Failed to read the application')
        self.state.application_objects = objects
        self.state.applications[self.path] = (sender, path)
        self.state.watch_owner(sender)
        if sender not in self.state.listened:
            self.state.listened.add(sender)
            self.state.bus.add_signal_receiver(self.state.on_properties_changed, signal_name='PropertiesChanged',
                                               dbus_interface=PROPERTIES, bus_name=sender, path_keyword='path')

    @dbus.service.method(GATT_MANAGER, in_signature='o', sender_keyword='sender')
    def UnregisterApplication(self, path, sender=None):
        self.state.record('UnregisterApplication %s' % path)
        if self.state.applications.get(self.path) != (sender, path):
            raise Error('org.bluez.Error.DoesNotExist', 'Does Not Exist')
        del self.state.applications[self.path]

    @dbus.service.method('org.bluez.Device1')
    def Connect(self):
        self.state.record('Connect %s' % self.path)
        self.state.maybe_fail('Connect')
        self.state.set_properties(self.path, 'org.bluez.Device1', {'Connected': dbus.Boolean(True)})

    @dbus.service.method('org.bluez.Device1')
    def Pair(self):
        self.state.record('Pair %s' % self.path)
        self.state.maybe_fail('Pair')
        self.state.set_properties(self.path, 'org.bluez.Device1', {'Paired': dbus.Boolean(True)})

    @dbus.service.method('org.bluez.Device1')
    def Disconnect(self):
        self.state.record('Disconnect %s' % self.path)
        self.state.maybe_fail('Disconnect')
        self.state.set_properties(self.path, 'org.bluez.Device1', {'Connected': dbus.Boolean(False)})

    @dbus.service.method(CHARACTERISTIC, in_signature='a{sv}', out_signature='ay')
    def ReadValue(self, options):
        self.state.record('ReadValue %s offset=%d' % (self.path, options.get('offset', -1)))
        self.state.maybe_fail('ReadValue')
        return dbus.ByteArray(b'\x01\x02\x03')

    @dbus.service.method(CHARACTERISTIC, in_signature='aya{sv}')
    def WriteValue(self, value, options):
        self.state.record('WriteValue %s %s type=%s' % (self.path, bytes(value).hex(), options.get('type', '')))
        self.state.maybe_fail('WriteValue')

    @dbus.service.method(CHARACTERISTIC)
    def StartNotify(self):
        self.state.record('StartNotify %s' % self.path)
        self.state.maybe_fail('StartNotify')
        self.state.set_properties(self.path, CHARACTERISTIC, {'Notifying': dbus.Boolean(True)})

    @dbus.service.method(CHARACTERISTIC)
    def StopNotify(self):
        self.state.record('StopNotify %s' % self.path)
        self.state.set_properties(self.path, CHARACTERISTIC, {'Notifying': dbus.Boolean(False)})


class AgentManager(dbus.service.Object):
    def __init__(self, state):
        super().__init__(state.bus, '/org/bluez')
        self.state = state

    @dbus.service.method('org.bluez.AgentManager1', in_signature='os')
    def RegisterAgent(self, path, capability):
        self.state.record('RegisterAgent %s %s' % (path, capability))
        self.state.maybe_fail('RegisterAgent')

    @dbus.service.method('org.bluez.AgentManager1', in_signature='o')
    def RequestDefaultAgent(self, path):
        self.state.record('RequestDefaultAgent %s' % path)
        self.state.maybe_fail('RequestDefaultAgent')


class Control(dbus.service.Object):
    """What the test asks of the daemon, and the central's side: writes, reads, connections."""

    def __init__(self, state):
        super().__init__(state.bus, '/test')
        self.state = state

    # ---- the daemon ----

    @dbus.service.method(CONTROL, out_signature='as')
    def Calls(self):
        return dbus.Array(self.state.calls, signature='s')

    @dbus.service.method(CONTROL, in_signature='s')
    def FailNext(self, method):
        self.state.failures[method] = self.state.failures.get(method, 0) + 1

    @dbus.service.method(CONTROL, in_signature='osa{sv}b')
    def AddObject(self, path, interface, properties, announce):
        self.state.export(path)
        self.state.objects.setdefault(path, {})[interface] = dict(properties)
        if announce:
            self.state.emit('/', OBJECT_MANAGER, 'InterfacesAdded', 'oa{sa{sv}}', path, {interface: properties})

    @dbus.service.method(CONTROL, in_signature='osa{sv}')
    def ChangeObject(self, path, interface, properties):
        if path in self.state.objects:
            self.state.objects[path].setdefault(interface, {}).update(properties)
        self.state.emit(path, PROPERTIES, 'PropertiesChanged', 'sa{sv}as', interface, properties, [])

    @dbus.service.method(CONTROL, in_signature='o')
    def RemoveObject(self, path):
        self.state.remove_object(path)

    @dbus.service.method(CONTROL, in_signature='s')
    def AddAdapter(self, name):
        path = self.state.add_adapter(name)
        interfaces = {i: dbus.Dictionary(p, signature='sv') for i, p in self.state.objects[path].items()}
        self.state.emit('/', OBJECT_MANAGER, 'InterfacesAdded', 'oa{sa{sv}}', path, interfaces)

    @dbus.service.method(CONTROL, in_signature='s')
    def RemoveAdapter(self, name):
        path = '/org/bluez/' + name
        for device in [p for p in self.state.objects if p.startswith(path + '/')]:
            self.state.remove_object(device)
        self.state.advertisements.pop(path, None)
        self.state.applications.pop(path, None)
        self.state.remove_object(path)

    @dbus.service.method(CONTROL, out_signature='sa{sv}')
    def Advertisement(self):
        return self.state.advertisement_read['xml'], dbus.Dictionary(self.state.advertisement_read['props'],
                                                                     signature='sv')

    @dbus.service.method(CONTROL, out_signature='buua{sv}')
    def Advertising(self):
        return ('/org/bluez/hci0' in self.state.advertisements, self.state.registrations,
                self.state.unregistrations, dbus.Dictionary(self.state.advertisement_read['props'], signature='sv'))

    @dbus.service.method(CONTROL, out_signature='sa{oa{sa{sv}}}')
    def Application(self):
        registered = self.state.applications.get('/org/bluez/hci0')
        return (registered[1] if registered else '',
                dbus.Dictionary(self.state.application_objects, signature='oa{sa{sv}}'))

    @dbus.service.method(CONTROL, out_signature='a{sv}')
    def Adapter(self):
        return dbus.Dictionary(self.state.objects['/org/bluez/hci0']['org.bluez.Adapter1'], signature='sv')

    @dbus.service.method(CONTROL, in_signature='sssav', out_signature='s', sender_keyword='sender')
    def CallAgent(self, path, method, signature, args, sender=None):
        # Calls the client's agent the way BlueZ would, and answers with the reply or the error name.
        remote = self.state.bus.get_object(sender, path, introspect=False)
        try:
            reply = remote.get_dbus_method(method, 'org.bluez.Agent1')(*list(args), signature=signature)
            return 'ok %s' % (reply if reply is not None else '')
        except dbus.exceptions.DBusException as error:
            return 'error %s %s' % (error.get_dbus_name(), error.get_dbus_message())

    # ---- the central ----

    def characteristic(self, uuid):
        registered = self.state.applications.get('/org/bluez/hci0')
        if registered is None:
            raise Error('org.pedal.Error.NoApplication', 'no application registered')
        for path, interfaces in self.state.application_objects.items():
            properties = interfaces.get(CHARACTERISTIC)
            if properties is not None and properties['UUID'] == uuid:
                return self.state.bus.get_object(registered[0], path, introspect=False), path
        raise Error('org.pedal.Error.NoCharacteristic', uuid)

    @dbus.service.method(CONTROL, in_signature='saya{sv}', out_signature='s')
    def Write(self, uuid, value, options):
        characteristic, _ = self.characteristic(uuid)
        try:
            characteristic.WriteValue(dbus.Array(value, signature='y'), options, dbus_interface=CHARACTERISTIC)
        except dbus.DBusException as error:
            return error.get_dbus_name()
        return ''

    @dbus.service.method(CONTROL, in_signature='s', out_signature='say')
    def Read(self, uuid):
        characteristic, _ = self.characteristic(uuid)
        try:
            value = characteristic.ReadValue(dbus.Dictionary({'device': dbus.ObjectPath(CENTRAL_PATH)}, signature='sv'),
                                             dbus_interface=CHARACTERISTIC)
        except dbus.DBusException as error:
            return error.get_dbus_name(), dbus.Array([], signature='y')
        return '', dbus.Array(value, signature='y')

    @dbus.service.method(CONTROL, in_signature='ss', out_signature='sav')
    def GetProperty(self, uuid, name):
        """Properties.Get of a characteristic of the application, as BlueZ or any client on the bus may ask."""
        characteristic, _ = self.characteristic(uuid)
        try:
            value = characteristic.Get(CHARACTERISTIC, name, dbus_interface=PROPERTIES)
        except dbus.DBusException as error:
            return error.get_dbus_name(), dbus.Array([], signature='v')
        return '', dbus.Array([value], signature='v')

    @dbus.service.method(CONTROL, in_signature='su', out_signature='us')
    def SetValues(self, uuid, count):
        """Properties.Set of "Value", as any peer may call it: the refusals up to the first answer that is not one."""
        characteristic, _ = self.characteristic(uuid)
        name = ''
        for refused in range(count):
            try:
                characteristic.Set(CHARACTERISTIC, 'Value', dbus.ByteArray(b'x'), dbus_interface=PROPERTIES,
                                   signature='ssv', timeout=5)
                return refused, ''
            except dbus.DBusException as error:
                name = error.get_dbus_name()
                if name == 'org.freedesktop.DBus.Error.NoReply':
                    return refused, name
        return count, name

    @dbus.service.method(CONTROL)
    def ReleaseAdvertisement(self):
        """BlueZ drops the registration on its own and tells the client, without waiting for its answer."""
        owner, path = self.state.advertisements.pop('/org/bluez/hci0')
        self.state.bus.get_object(owner, path, introspect=False).Release(
            dbus_interface='org.bluez.LEAdvertisement1', ignore_reply=True)

    @dbus.service.method(CONTROL, in_signature='s')
    def StartNotify(self, uuid):
        characteristic, _ = self.characteristic(uuid)
        characteristic.StartNotify(dbus_interface=CHARACTERISTIC)

    @dbus.service.method(CONTROL, in_signature='s', out_signature='aay')
    def TakeNotifications(self, uuid):
        _, path = self.characteristic(uuid)
        received = self.state.notifications.pop(path, [])
        return dbus.Array([dbus.ByteArray(value) for value in received], signature='ay')

    @dbus.service.method(CONTROL, in_signature='q')
    def SetLinkMtu(self, mtu):
        """The ATT MTU the central negotiated (BlueZ passes it as the "mtu" option of its writes)."""
        self.state.link_mtu = mtu

    @dbus.service.method(CONTROL, in_signature='q')
    def Connect(self, mtu):
        """The phone connects with the given ATT MTU: a new device, or a known one connected again."""
        self.state.link_mtu = mtu
        if CENTRAL_PATH in self.state.objects:
            self.state.set_properties(CENTRAL_PATH, 'org.bluez.Device1', {'Connected': dbus.Boolean(True)})
            return
        properties = {
            'Address': dbus.String('11:22:33:44:55:66'), 'AddressType': dbus.String('random'),
            'Adapter': dbus.ObjectPath('/org/bluez/hci0'), 'Connected': dbus.Boolean(True),
            'Paired': dbus.Boolean(False), 'Trusted': dbus.Boolean(False)}
        self.AddObject(CENTRAL_PATH, 'org.bluez.Device1', dbus.Dictionary(properties, signature='sv'), True)

    @dbus.service.method(CONTROL)
    def Disconnect(self):
        self.state.set_properties(CENTRAL_PATH, 'org.bluez.Device1', {'Connected': dbus.Boolean(False)})


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    state = State(dbus.bus.BusConnection(sys.argv[1]))
    names = sys.argv[2] if len(sys.argv) > 2 else 'hci0'
    Root(state)
    AgentManager(state)
    Control(state)
    for name in filter(None, names.split(',')):
        state.add_adapter(name)
    state.bus.request_name('org.bluez')
    GLib.MainLoop().run()


if __name__ == '__main__':
    main()
