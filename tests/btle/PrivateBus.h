#pragma once
// A private D-Bus daemon with the BlueZ stand-in (fake_bluez_central.py) on it, for the Bluetooth LE tests.
// The daemon's address is put in DBUS_SYSTEM_BUS_ADDRESS, so the code under test reaches it as the system
// bus. The test talks to the stand-in through its own connection: call() reaches /test, which drives the
// central's side (writes, reads, connections) and reports what the pedal registered.
#include <gio/gio.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <unistd.h>

extern char** environ;

class PrivateBus {
public:
    // The socket lives in a fresh folder under /tmp: a test's own folder may be too deep for a socket name.
    explicit PrivateBus(bool withAdapter = true) {
        char folderTemplate[] = "/tmp/pedal-bus-XXXXXX";
        if (mkdtemp(folderTemplate) == nullptr) return;
        folder = folderTemplate;
        socket = folder + "/bus";
        address = "unix:path=" + socket;
        daemon = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address});
        if (!waitFor([&] { return access(socket.c_str(), F_OK) == 0 || waitpid(daemon, nullptr, WNOHANG) != 0; }) ||
            access(socket.c_str(), F_OK) != 0)
            return;
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        GError* error = nullptr;
        client = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        if (client == nullptr) {
            failure = error->message;
            g_error_free(error);
            return;
        }
        std::vector<std::string> fake = {"/usr/bin/python3",
                                         std::string(PEDAL_SOURCE_DIR) + "/tests/btle/fake_bluez_central.py", address};
        if (!withAdapter) fake.push_back("--no-adapter");
        central = spawn(fake);
        ready = waitFor([&] { return hasOwner("org.bluez"); });
        if (!ready) failure = "the BlueZ stand-in did not come up";
    }

    ~PrivateBus() {
        if (client != nullptr) g_object_unref(client);
        stop(central);
        stop(daemon);
        if (!socket.empty()) unlink(socket.c_str());
        if (!folder.empty()) rmdir(folder.c_str());
    }

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // A method of the stand-in's test interface; null (and the error's name in lastError) on failure.
    GVariant* call(const char* method, GVariant* parameters = nullptr) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(client, "org.bluez", "/test", "org.pedal.TestCentral", method,
                                                      parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
                                                      &error);
        lastError.clear();
        if (reply == nullptr) {
            gchar* name = g_dbus_error_get_remote_error(error);
            lastError = name != nullptr ? name : error->message;
            g_free(name);
            g_error_free(error);
        }
        return reply;
    }

    bool hasOwner(const char* name) {
        GVariant* reply = g_dbus_connection_call_sync(client, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner",
                                                      g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"),
                                                      G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
        if (reply == nullptr) return false;
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        return owned;
    }

    // Polls the condition every 10 ms for at most 10 s.
    static bool waitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 1000; ++i) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    }

    std::string address;
    GDBusConnection* client = nullptr;
    bool ready = false;
    std::string failure = "the private bus did not come up";
    std::string lastError;

private:
    static pid_t spawn(const std::vector<std::string>& arguments) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
        return pid;
    }

    static void stop(pid_t pid) {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    std::string folder;
    std::string socket;
    pid_t daemon = -1;
    pid_t central = -1;
};
