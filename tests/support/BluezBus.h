#pragma once
// A private D-Bus daemon with the BlueZ stand-in (fake_bluez.py) on it, for every Bluetooth LE test. The
// daemon's address is put in DBUS_SYSTEM_BUS_ADDRESS, so code under test that asks for the system bus reaches
// it. call() drives the stand-in through its control interface from the harness's own connection.
//
// Waits run the default main context whenever this thread may (a test that drives the library itself), and
// leave it alone when another thread runs it (the port layer's loop): so the same calls serve both kinds of
// test, and a control call that makes the stand-in call back into the code under test cannot stall.
#include <gio/gio.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

// An "a{sv}" dictionary of the entries, as properties and options travel.
inline GVariant* props(std::initializer_list<std::pair<const char*, GVariant*>> entries) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    for (const auto& entry : entries) g_variant_builder_add(&builder, "{sv}", entry.first, entry.second);
    return g_variant_builder_end(&builder);
}

// An "ay" of the bytes, and the bytes of one.
inline GVariant* byteVariant(const std::string& bytes) {
    static const char none = 0;
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.empty() ? &none : bytes.data(), bytes.size(), 1);
}
inline std::string variantBytes(GVariant* value) {
    gsize length = 0;
    const void* data = g_variant_get_fixed_array(value, &length, 1);
    return std::string(static_cast<const char*>(data), length);
}

// The "Flags" of a GATT object's properties joined by commas; "" when it has none.
inline std::string flagsOf(GVariant* properties) {
    gchar** flags = nullptr;
    if (!g_variant_lookup(properties, "Flags", "^as", &flags)) return "";
    gchar* text = g_strjoinv(",", flags);
    std::string joined = text;
    g_free(text);
    g_strfreev(flags);
    return joined;
}

class BluezBus {
public:
    // adapters: comma-separated adapter names the stand-in offers ("hci0,hci1"), or "" for none.
    explicit BluezBus(const std::string& adapters = "hci0") : adapters_(adapters) {
        const char* daemonArgs[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
        int out = -1;
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(daemonArgs), nullptr,
                                      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), dieWithTest, &test_,
                                      &daemon_, nullptr, &out, nullptr, &error)) {
            failure = std::string("cannot start dbus-daemon: ") + error->message;
            g_clear_error(&error);
            return;
        }
        char c;
        while (read(out, &c, 1) == 1 && c != '\n') address += c;
        close(out);
        g_setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), TRUE);
        connection_ = openConnection();
        if (connection_ == nullptr) return;
        ready = startBluez();
    }

    ~BluezBus() {
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
        // Cancelled or failed calls deliver their callbacks before the test's objects go.
        while (g_main_context_iteration(nullptr, FALSE)) {}
        stop(fake_);
        stop(daemon_);
    }

    BluezBus(const BluezBus&) = delete;
    BluezBus& operator=(const BluezBus&) = delete;

    // The harness's connection; tests of the library use it for the library too.
    GDBusConnection* connection() const { return connection_; }

    // A connection of its own to the private bus (the caller unrefs it).
    GDBusConnection* openConnection() {
        GError* error = nullptr;
        GDBusConnection* opened =
            g_dbus_connection_new_for_address_sync(address.c_str(),
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, &error);
        if (opened == nullptr) {
            failure = std::string("cannot connect: ") + error->message;
            g_clear_error(&error);
        }
        return opened;
    }

    // Starts the stand-in (a new owner of "org.bluez", nothing registered) and waits for its name.
    bool startBluez() {
        std::string script = std::string(PEDAL_SOURCE_DIR) + "/tests/btle/fake_bluez.py";
        const char* fakeArgs[] = {"/usr/bin/python3", script.c_str(), address.c_str(), adapters_.c_str(), nullptr};
        GError* error = nullptr;
        if (!g_spawn_async(nullptr, const_cast<char**>(fakeArgs), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, dieWithTest,
                           &test_, &fake_, &error)) {
            failure = std::string("cannot start the BlueZ stand-in: ") + error->message;
            g_clear_error(&error);
            return false;
        }
        if (waitFor([this] { return hasOwner("org.bluez"); }, 30000)) return true;
        failure = "the BlueZ stand-in did not take its name";
        return false;
    }

    // The daemon stops: its name leaves the bus with everything registered with it.
    void stopBluez() {
        stop(fake_);
        fake_ = 0;
        waitFor([this] { return !hasOwner("org.bluez"); });
    }

    // A restart of the daemon, offering the given adapters from then on.
    bool restartBluez(const std::string& adapters) {
        stopBluez();
        adapters_ = adapters;
        return startBluez();
    }

    // A method of the stand-in's control interface; null (and the error's name in lastError) on failure.
    GVariant* call(const char* method, GVariant* parameters = nullptr) {
        struct Pending {
            bool done = false;
            GVariant* reply = nullptr;
            std::string error;
        } pending;
        // Its reply comes on a context of its own, which this thread runs whoever runs the default one.
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        g_dbus_connection_call(
            connection_, "org.bluez", "/test", "org.pedal.FakeBluez", method, parameters, nullptr,
            G_DBUS_CALL_FLAGS_NONE, 20000, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* into = static_cast<Pending*>(data);
                GError* error = nullptr;
                into->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                if (error != nullptr) {
                    gchar* name = g_dbus_error_get_remote_error(error);
                    into->error = name != nullptr ? name : error->message;
                    g_free(name);
                    g_error_free(error);
                }
                into->done = true;
            },
            &pending);
        g_main_context_pop_thread_default(context);
        while (!pending.done) {
            bool busy = g_main_context_iteration(context, FALSE);
            busy = g_main_context_iteration(nullptr, FALSE) || busy;
            if (!busy) g_usleep(500);
        }
        g_main_context_unref(context);
        lastError = pending.error;
        return pending.reply;
    }

    // A control call whose reply does not matter.
    void control(const char* method, GVariant* parameters = nullptr) {
        GVariant* reply = call(method, parameters);
        if (reply != nullptr) g_variant_unref(reply);
    }

    // Adds an object with one interface to the stand-in's tree; `announce` sends InterfacesAdded for it.
    void addObject(const char* path, const char* interface, GVariant* properties, bool announce = false) {
        control("AddObject", g_variant_new("(os@a{sv}b)", path, interface, properties, announce));
    }

    // Changes properties of an object of the stand-in, with PropertiesChanged.
    void changeObject(const char* path, const char* interface, GVariant* properties) {
        control("ChangeObject", g_variant_new("(os@a{sv})", path, interface, properties));
    }

    // The calls the stand-in received, oldest first ("RegisterAdvertisement /org/bluez/btleadv_Ab12", ...).
    std::vector<std::string> calls() {
        std::vector<std::string> result;
        GVariant* reply = call("Calls");
        if (reply == nullptr) return result;
        GVariantIter* iter = nullptr;
        const char* text = nullptr;
        g_variant_get(reply, "(as)", &iter);
        while (g_variant_iter_loop(iter, "&s", &text)) result.emplace_back(text);
        g_variant_iter_free(iter);
        g_variant_unref(reply);
        return result;
    }

    bool called(const std::string& call) { return count(call) > 0; }

    // How many received calls begin with the text.
    size_t count(const std::string& prefix) {
        size_t found = 0;
        for (const std::string& text : calls()) found += text.rfind(prefix, 0) == 0;
        return found;
    }

    bool hasOwner(const char* name) {
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
            g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply == nullptr) return false;
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        return owned;
    }

    // Runs the default main context (when this thread may) until the condition holds; false after the bound.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
        gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
        while (!condition()) {
            if (g_get_monotonic_time() > deadline) return condition();
            if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
        }
        return true;
    }

    // Runs the default main context for a while: lets what is on its way arrive when nothing can be waited for.
    static void settle(int milliseconds) {
        waitFor([] { return false; }, milliseconds);
    }

    std::string address;
    bool ready = false;
    std::string failure = "the private bus did not come up";
    std::string lastError;

private:
    // Runs in each child before it starts its program: the child is killed when the thread that started it
    // ends, so a test that crashes leaves no daemon holding CTest's pipes open until its timeout.
    static void dieWithTest(gpointer test) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != *static_cast<pid_t*>(test)) _exit(1);
    }

    static void stop(GPid pid) {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        g_spawn_close_pid(pid);
    }

    std::string adapters_;
    pid_t test_ = getpid();
    GPid daemon_ = 0;
    GPid fake_ = 0;
    GDBusConnection* connection_ = nullptr;
};
