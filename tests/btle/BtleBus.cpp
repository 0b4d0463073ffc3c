#include "BtleBus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

void stop(GPid pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    g_spawn_close_pid(pid);
}

}  // namespace

BtleBus::BtleBus(const std::string& adapters) {
    const char* daemonArgs[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
    int out = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(daemonArgs), nullptr,
                                  GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr, nullptr, &daemonPid_,
                                  nullptr, &out, nullptr, &error)) {
        fprintf(stderr, "cannot start dbus-daemon: %s\n", error->message);
        g_clear_error(&error);
        return;
    }
    std::string address = readLine(out);
    close(out);
    // The library's users take the system bus; GIO honours this variable for it.
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), TRUE);

    std::string script = std::string(BTLE_TEST_SOURCE_DIR) + "/fake_bluez.py";
    const char* fakeArgs[] = {"/usr/bin/python3", script.c_str(), address.c_str(), adapters.c_str(), nullptr};
    if (!g_spawn_async(nullptr, const_cast<char**>(fakeArgs), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                       &fakePid_, &error)) {
        fprintf(stderr, "cannot start the fake BlueZ: %s\n", error->message);
        g_clear_error(&error);
        return;
    }
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (connection_ == nullptr) {
        fprintf(stderr, "cannot connect: %s\n", error->message);
        g_clear_error(&error);
        return;
    }
    bool owned = pumpUntil([this] {
        GVariant* reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner",
                                                      g_variant_new("(s)", "org.bluez"), G_VARIANT_TYPE("(b)"),
                                                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        gboolean has = FALSE;
        if (reply) {
            g_variant_get(reply, "(b)", &has);
            g_variant_unref(reply);
        }
        return has == TRUE;
    }, 15000);
    if (!owned) {
        fprintf(stderr, "the fake BlueZ did not take its name\n");
        g_clear_object(&connection_);
    }
}

BtleBus::~BtleBus() {
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    // Let cancelled or closed calls deliver their callbacks before the test's objects go.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    stop(fakePid_);
    stop(daemonPid_);
}

bool BtleBus::pumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    while (!condition()) {
        if (g_get_monotonic_time() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
    return true;
}

GVariant* BtleBus::control(const char* method, GVariant* parameters) {
    struct Pending {
        bool done = false;
        GVariant* reply = nullptr;
    } pending;
    g_dbus_connection_call(
        connection_, "org.bluez", "/test", "org.test.Control", method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE,
        10000, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            auto* p = static_cast<Pending*>(data);
            GError* error = nullptr;
            p->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), res, &error);
            if (error) fprintf(stderr, "control call failed: %s\n", error->message);
            g_clear_error(&error);
            p->done = true;
        },
        &pending);
    pumpUntil([&] { return pending.done; }, 15000);
    return pending.reply;
}

std::vector<std::string> BtleBus::calls() {
    std::vector<std::string> result;
    GVariant* reply = control("Calls", nullptr);
    if (!reply) return result;
    GVariantIter* iter;
    const char* text;
    g_variant_get(reply, "(as)", &iter);
    while (g_variant_iter_loop(iter, "&s", &text)) result.emplace_back(text);
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    return result;
}

bool BtleBus::called(const std::string& call) {
    for (const auto& text : calls()) {
        if (text == call) return true;
    }
    return false;
}
