#!/usr/bin/python3
# A small stand-in for BlueZ on a private bus: adapters, devices, advertising, GATT and agent managers,
# plus a control object (/test, org.test.Control) through which the tests drive it.
import sys
import dbus
import dbus.service
import dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(sys.argv[1])
adapter_names = sys.argv[2].split(",") if len(sys.argv) > 2 and sys.argv[2] else []

calls = []
fail_next = set()
objects = {}  # path -> {interface: {prop: value}}
last_advertisement = {}
last_application = {}

PROPS = "org.freedesktop.DBus.Properties"
OM = "org.freedesktop.DBus.ObjectManager"


def record(text):
    calls.append(text)


def maybe_fail(method):
    if method in fail_next:
        fail_next.discard(method)
        raise dbus.exceptions.DBusException("forced failure", name="org.bluez.Error.Failed")


def emit(path, iface, member, signature, *args):
    msg = dbus.lowlevel.SignalMessage(path, iface, member)
    msg.append(*args, signature=signature)
    bus.send_message(msg)


class Root(dbus.service.Object):
    @dbus.service.method(OM, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        record("GetManagedObjects")
        return dbus.Dictionary({p: dbus.Dictionary(i, signature="sa{sv}") for p, i in objects.items()},
                               signature="oa{sa{sv}}")


class Bluez(dbus.service.Object):
    def __init__(self, path):
        super().__init__(bus, path)
        self.path = path

    @dbus.service.method(PROPS, in_signature="ssv")
    def Set(self, iface, name, value):
        record("Set %s %s %s" % (self.path, name, value))
        maybe_fail("Set")
        objects[self.path][iface][name] = value
        emit(self.path, PROPS, "PropertiesChanged", "sa{sv}as", iface, {name: value}, [])

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        record("GetAll %s" % self.path)
        return dbus.Dictionary(objects[self.path].get(iface, {}), signature="sv")

    @dbus.service.method("org.bluez.Adapter1")
    def StartDiscovery(self):
        record("StartDiscovery")
        maybe_fail("StartDiscovery")

    @dbus.service.method("org.bluez.Adapter1")
    def StopDiscovery(self):
        record("StopDiscovery")
        maybe_fail("StopDiscovery")

    @dbus.service.method("org.bluez.Adapter1", in_signature="a{sv}")
    def SetDiscoveryFilter(self, f):
        record("SetDiscoveryFilter " + ",".join("%s=%s" % (k, f[k]) for k in sorted(f)))

    @dbus.service.method("org.bluez.Adapter1", in_signature="o")
    def RemoveDevice(self, path):
        record("RemoveDevice %s" % path)

    @dbus.service.method("org.bluez.LEAdvertisingManager1", in_signature="oa{sv}", sender_keyword="sender")
    def RegisterAdvertisement(self, path, options, sender=None):
        record("RegisterAdvertisement %s" % path)
        maybe_fail("RegisterAdvertisement")
        remote = bus.get_object(sender, path, introspect=False)
        xml = remote.Introspect(dbus_interface="org.freedesktop.DBus.Introspectable")
        props = remote.GetAll("org.bluez.LEAdvertisement1", dbus_interface=PROPS)
        last_advertisement.clear()
        last_advertisement["xml"] = str(xml)
        last_advertisement["props"] = props

    @dbus.service.method("org.bluez.LEAdvertisingManager1", in_signature="o")
    def UnregisterAdvertisement(self, path):
        record("UnregisterAdvertisement %s" % path)
        maybe_fail("UnregisterAdvertisement")

    @dbus.service.method("org.bluez.GattManager1", in_signature="oa{sv}", sender_keyword="sender")
    def RegisterApplication(self, path, options, sender=None):
        record("RegisterApplication %s" % path)
        maybe_fail("RegisterApplication")
        remote = bus.get_object(sender, path, introspect=False)
        last_application["objects"] = remote.GetManagedObjects(dbus_interface=OM)

    @dbus.service.method("org.bluez.GattManager1", in_signature="o")
    def UnregisterApplication(self, path):
        record("UnregisterApplication %s" % path)

    @dbus.service.method("org.bluez.Device1")
    def Connect(self):
        record("Connect %s" % self.path)
        maybe_fail("Connect")
        set_props(self.path, "org.bluez.Device1", {"Connected": dbus.Boolean(True)})

    @dbus.service.method("org.bluez.Device1")
    def Pair(self):
        record("Pair %s" % self.path)
        maybe_fail("Pair")

    @dbus.service.method("org.bluez.Device1")
    def Disconnect(self):
        record("Disconnect %s" % self.path)
        maybe_fail("Disconnect")
        set_props(self.path, "org.bluez.Device1", {"Connected": dbus.Boolean(False)})

    @dbus.service.method("org.bluez.GattCharacteristic1", in_signature="a{sv}", out_signature="ay")
    def ReadValue(self, options):
        record("ReadValue %s offset=%d" % (self.path, options.get("offset", -1)))
        maybe_fail("ReadValue")
        return dbus.ByteArray(b"\x01\x02\x03")

    @dbus.service.method("org.bluez.GattCharacteristic1", in_signature="aya{sv}")
    def WriteValue(self, value, options):
        record("WriteValue %s %s type=%s" % (self.path, bytes(value).hex(), options.get("type", "")))
        maybe_fail("WriteValue")

    @dbus.service.method("org.bluez.GattCharacteristic1")
    def StartNotify(self):
        record("StartNotify %s" % self.path)
        maybe_fail("StartNotify")
        set_props(self.path, "org.bluez.GattCharacteristic1", {"Notifying": dbus.Boolean(True)})

    @dbus.service.method("org.bluez.GattCharacteristic1")
    def StopNotify(self):
        record("StopNotify %s" % self.path)
        set_props(self.path, "org.bluez.GattCharacteristic1", {"Notifying": dbus.Boolean(False)})


def set_props(path, iface, props):
    objects[path][iface].update(props)
    emit(path, PROPS, "PropertiesChanged", "sa{sv}as", iface, props, [])


class AgentManager(dbus.service.Object):
    @dbus.service.method("org.bluez.AgentManager1", in_signature="os")
    def RegisterAgent(self, path, capability):
        record("RegisterAgent %s %s" % (path, capability))
        maybe_fail("RegisterAgent")

    @dbus.service.method("org.bluez.AgentManager1", in_signature="o")
    def RequestDefaultAgent(self, path):
        record("RequestDefaultAgent %s" % path)
        maybe_fail("RequestDefaultAgent")


exported = {}


def export(path):
    if path not in exported:
        exported[path] = Bluez(path)


class Control(dbus.service.Object):
    @dbus.service.method("org.test.Control", out_signature="as")
    def Calls(self):
        return dbus.Array(calls, signature="s")

    @dbus.service.method("org.test.Control", in_signature="s")
    def FailNext(self, method):
        fail_next.add(method)

    @dbus.service.method("org.test.Control", in_signature="osa{sv}b")
    def AddObject(self, path, iface, props, announce):
        export(path)
        objects.setdefault(path, {})[iface] = dict(props)
        if announce:
            emit("/", OM, "InterfacesAdded", "oa{sa{sv}}", path, {iface: props})

    @dbus.service.method("org.test.Control", in_signature="osa{sv}")
    def ChangeObject(self, path, iface, props):
        if path in objects:
            objects[path].setdefault(iface, {}).update(props)
        emit(path, PROPS, "PropertiesChanged", "sa{sv}as", iface, props, [])

    @dbus.service.method("org.test.Control", in_signature="o")
    def RemoveObject(self, path):
        ifaces = list(objects.pop(path, {}).keys()) or ["org.bluez.Device1"]
        emit("/", OM, "InterfacesRemoved", "oas", path, ifaces)

    @dbus.service.method("org.test.Control", out_signature="sa{sv}")
    def Advertisement(self):
        return (last_advertisement.get("xml", ""),
                dbus.Dictionary(last_advertisement.get("props", {}), signature="sv"))

    @dbus.service.method("org.test.Control", out_signature="a{oa{sa{sv}}}")
    def Application(self):
        return dbus.Dictionary(last_application.get("objects", {}), signature="oa{sa{sv}}")

    @dbus.service.method("org.test.Control", in_signature="sssav", out_signature="s", sender_keyword="sender")
    def CallAgent(self, path, method, signature, args, sender=None):
        # Calls the client's agent the way BlueZ would, and answers with the reply or the error name.
        remote = bus.get_object(sender, path, introspect=False)
        try:
            arguments = list(args)
            reply = remote.get_dbus_method(method, "org.bluez.Agent1")(*arguments, signature=signature)
            return "ok %s" % (reply if reply is not None else "")
        except dbus.exceptions.DBusException as error:
            return "error %s %s" % (error.get_dbus_name(), error.get_dbus_message())


Root(bus, "/")
AgentManager(bus, "/org/bluez")
Control(bus, "/test")
for name in adapter_names:
    path = "/org/bluez/" + name
    export(path)
    objects[path] = {
        "org.bluez.Adapter1": {"Address": dbus.String("00:11:22:33:44:5" + name[-1]), "Powered": dbus.Boolean(False),
                               "Discovering": dbus.Boolean(False), "Discoverable": dbus.Boolean(False),
                               "Connectable": dbus.Boolean(True), "Pairable": dbus.Boolean(True),
                               "Alias": dbus.String("fake " + name)},
        "org.bluez.LEAdvertisingManager1": {},
        "org.bluez.GattManager1": {},
    }
bus.request_name("org.bluez")
GLib.MainLoop().run()
