#include "BlePort.h"

#include "Log.h"
#include "Mac.h"
#include "Shims.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <glib-unix.h>

char ble_device_name[20] = {};
std::atomic<bool> ble_initialized{false};
std::atomic<bool> ble_started{false};
std::atomic<bool> ble_advertisment{false};
std::atomic<uint64_t> supervisor_time{0};
std::atomic<uint32_t> ble_mtu{BLE_MIN_MTU};
moodycamel::ConcurrentQueue<std::string> rxQueue(1024);

namespace {
const char* const TAG = "BLE";
const char* const SUPERVISOR_TAG = "Ble Supervisor";
const char* const LIBRARY_TAG = "MAIN";

// Owned by the "nimble_tasks" thread: only code that runs on its main loop touches them.
char ble_receive_packet[BLE_RECEIVE_SIZE];
uint32_t ble_receive_packet_index = 0;
// A request outgrew the buffer: its bytes are dropped up to and including its NUL.
bool ble_receive_discarding = false;
btle_adapter* default_adapter = nullptr;
btle_advertisement* advertisement = nullptr;
btle_application* app = nullptr;
btle_agent* agent = nullptr;
GMainLoop* loop = nullptr;

uint64_t now() { return uint64_t(esp_timer_get_time()); }

// Runs job on the main-loop thread, after what is already queued there, so calls into the library from
// "comTasks" never overlap the loop's own use of the same objects.
template <typename Job>
void runOnLoop(Job* job) {
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<Job*>(data))();
            return G_SOURCE_REMOVE;
        },
        job, [](gpointer data) { delete static_cast<Job*>(data); });
}

void notifyChunk(const char* data, size_t length) {
    GByteArray* bytes = g_byte_array_sized_new(guint(length));
    g_byte_array_append(bytes, reinterpret_cast<const guint8*>(data), guint(length));
    btle_application_notify(app, BLE_SERVICE_UUID, BLE_TX_UUID, bytes);
    g_byte_array_free(bytes, TRUE);
}

void sendReply(const std::string& reply) {
    if (app == nullptr) return;
    uint32_t mtu = ble_mtu.load();
    if (mtu < BLE_MIN_MTU) {
        mtu = BLE_MIN_MTU;
        ble_mtu = mtu;
    }
    const size_t chunk = mtu - BLE_MTU_OVERHEAD;
    // The NUL that std::string keeps after its text is sent as the reply's last byte.
    const char* data = reply.c_str();
    size_t remaining = reply.size() + 1;
    while (remaining > chunk) {
        notifyChunk(data, chunk);
        data += chunk;
        remaining -= chunk;
    }
    notifyChunk(data, remaining);
}

void restartAdvertising() {
    if (default_adapter == nullptr || advertisement == nullptr) {
        LOGE(SUPERVISOR_TAG, "Error in adapter or advertisment\n");
        return;
    }
    // A central may have disconnected (and advertising restarted) since the supervisor looked.
    if (ble_advertisment) return;
    btle_adapter_start_advertising(default_adapter, advertisement);
    ble_advertisment = true;
    LOGW(SUPERVISOR_TAG, "Started advertising\n");
}

void receiveByte(char byte) {
    if (ble_receive_discarding) {
        if (byte == '\0') ble_receive_discarding = false;
        return;
    }
    if (ble_receive_packet_index >= BLE_RECEIVE_SIZE) {
        LOGE(TAG, "Request longer than %u bytes dropped\n", unsigned(BLE_RECEIVE_SIZE - 1));
        ble_receive_packet_index = 0;
        ble_receive_discarding = byte != '\0';
        return;
    }
    ble_receive_packet[ble_receive_packet_index++] = byte;
    if (byte == '\0') {
        // A request that cannot be queued (out of memory) is dropped.
        rxQueue.enqueue(std::string(ble_receive_packet, ble_receive_packet_index - 1));
        ble_receive_packet_index = 0;
    }
}

gboolean sigintSource(gpointer) {
    on_sigint(SIGINT);
    return G_SOURCE_REMOVE;
}

void setUpAdvertisement() {
    advertisement = btle_advertisement_create();
    btle_advertisement_set_general_discoverable(advertisement, TRUE);
    btle_advertisement_set_interval(advertisement, 100, 200);
    uint8_t mac[6];
    esp_read_mac(mac, 2);
    GByteArray* manufacturerData = g_byte_array_sized_new(sizeof mac);
    g_byte_array_append(manufacturerData, mac, sizeof mac);
    btle_advertisement_set_manufacturer_data(advertisement, 0xFFFF, manufacturerData);
    g_byte_array_free(manufacturerData, TRUE);
    btle_advertisement_set_local_name(advertisement, ble_device_name);
}

void setUpApplication() {
    app = btle_create_application(default_adapter);
    btle_application_add_service(app, BLE_SERVICE_UUID);
    btle_application_add_characteristic(app, BLE_SERVICE_UUID, BLE_RX_UUID, BLE_RX_PROPERTIES);
    btle_application_add_characteristic(app, BLE_SERVICE_UUID, BLE_TX_UUID, BLE_TX_PROPERTIES);
    btle_application_set_char_read_cb(app, on_local_char_read);
    btle_application_set_char_write_cb(app, on_local_char_write);
    btle_application_set_char_start_notify_cb(app, on_local_char_start_notify);
    btle_application_set_char_stop_notify_cb(app, on_local_char_stop_notify);
    btle_application_set_char_updated_cb(app, on_local_char_updated);
    btle_adapter_register_application(default_adapter, app);
}

void setUpAdapter() {
    log_debug(LIBRARY_TAG, "using default_adapter '%s'", btle_adapter_get_path(default_adapter));
    btle_adapter_set_powered_state_cb(default_adapter, on_powered_state_changed);
    if (!btle_adapter_get_powered_state(default_adapter)) btle_adapter_power_on(default_adapter);
    btle_adapter_set_alias(default_adapter, ble_device_name);
    btle_adapter_discoverable_on(default_adapter);
    btle_adapter_pairable_off(default_adapter);
    btle_adapter_set_remote_central_cb(default_adapter, on_central_state_changed);
    setUpAdvertisement();
    btle_adapter_start_advertising(default_adapter, advertisement);
    ble_advertisment = true;
    setUpApplication();
}
}

int ble_start(const char* name) {
    if (name != nullptr && !ble_initialized) {
        std::strncpy(ble_device_name, name, sizeof ble_device_name);
        ble_device_name[sizeof ble_device_name - 1] = '\0';
        LOGI(TAG, "%s\n", ble_device_name);
        ble_initialized = true;
        if (xTaskCreatePinnedToCore(nimble_tasks, "nimble_tasks", 8192, nullptr, 0, nullptr, 0) == 0)
            LOGE(TAG, "Cannot start the Bluetooth thread\n");
    } else {
        LOGE(TAG, "Already initialized\n");
    }
    return 0;
}

void nimble_tasks(void*) {
    log_set_level(LOG_LEVEL_INFO);
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (connection == nullptr) {
        LOGE(TAG, "No system bus: %s\n", error != nullptr ? error->message : "unknown");
        g_clear_error(&error);
    } else {
        // The pedal goes on playing when the system bus goes away; GIO would otherwise end the process.
        g_dbus_connection_set_exit_on_close(connection, FALSE);
    }
    loop = g_main_loop_new(nullptr, FALSE);
    // Handled on the main loop, not in the signal handler: the tear-down makes D-Bus calls.
    if (g_unix_signal_add(SIGINT, sigintSource, nullptr) == 0) log_error("Btle", "can't catch SIGINT");

    default_adapter = connection != nullptr ? btle_adapter_get_default(connection) : nullptr;
    if (default_adapter == nullptr)
        log_debug(LIBRARY_TAG, "No default_adapter found");
    else
        setUpAdapter();

    ble_started = true;
    g_main_loop_run(loop);

    g_main_loop_unref(loop);
    loop = nullptr;
    ble_started = false;
    LOGE(TAG, "Terminated\n");
    if (connection != nullptr) {
        // The tear-down's unregistrations are still queued: they go out before the connection closes.
        g_dbus_connection_flush_sync(connection, nullptr, nullptr);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }
}

std::string ble_get_rx() {
    std::string request;
    if (!rxQueue.try_dequeue(request)) return "";
    return request;
}

void ble_set_tx(std::string reply) {
    // After the tear-down nothing is there to send it, and nothing would run the job.
    if (!ble_started) return;
    runOnLoop(new auto([reply = std::move(reply)] { sendReply(reply); }));
}

void ble_supervisor() {
    if (!ble_started) return;
    uint64_t time = now();
    if (time - supervisor_time.load() <= BLE_SUPERVISOR_PERIOD) return;
    supervisor_time = time;
    if (ble_advertisment) return;
    runOnLoop(new auto([] { restartAdvertising(); }));
}

void on_powered_state_changed(btle_adapter* adapter, gboolean state) {
    log_debug(LIBRARY_TAG, "powered '%s' (%s)", state ? "on" : "off", btle_adapter_get_path(adapter));
}

void on_central_state_changed(btle_adapter* adapter, btle_device* device) {
    char* text = btle_device_to_string(device);
    log_debug(LIBRARY_TAG, "%s", text);
    g_free(text);
    log_debug(LIBRARY_TAG, "remote central %s is %s", btle_device_get_address(device),
              btle_device_get_connection_state_name(device));
    btle_connection_state state = btle_device_get_connection_state(device);
    if (state == BTLE_CONNECTED) {
        log_debug(LIBRARY_TAG, "MTU = %d", int(btle_device_get_mtu(device)));
        // Unregistering an advertisement that is not registered only earns an error from BlueZ.
        if (ble_advertisment) btle_adapter_stop_advertising(adapter, advertisement);
        supervisor_time = now();
        ble_advertisment = false;
    } else if (state == BTLE_DISCONNECTED) {
        // The supervisor may have registered it again while the central was connected; registering twice
        // would fail the export and be refused by BlueZ.
        if (!ble_advertisment) btle_adapter_start_advertising(adapter, advertisement);
        ble_advertisment = true;
    }
}

const char* on_local_char_read(const btle_application*, const char*, const char*, const char* char_uuid, guint16,
                               guint16) {
    log_debug(LIBRARY_TAG, "on_local_char_read <%s>", char_uuid);
    return "org.bluez.Error.Rejected";
}

const char* on_local_char_write(const btle_application*, const char*, const char* service_uuid,
                                const char* char_uuid, GByteArray* byteArray, guint16 mtu, guint16) {
    log_debug(LIBRARY_TAG, "received packet <%.*s> %d", int(ble_receive_packet_index), ble_receive_packet, int(mtu));
    if (std::strcmp(service_uuid, BLE_SERVICE_UUID) != 0 || std::strcmp(char_uuid, BLE_RX_UUID) != 0)
        return nullptr;
    supervisor_time = now();
    ble_mtu = std::max<uint32_t>(mtu, BLE_MIN_MTU);
    for (guint i = 0; i < byteArray->len; ++i) receiveByte(char(byteArray->data[i]));
    return nullptr;
}

void on_local_char_start_notify(const btle_application*, const char* service_uuid, const char* char_uuid) {
    log_debug(LIBRARY_TAG, "on start notify <%s> <%s>", service_uuid, char_uuid);
}

void on_local_char_stop_notify(const btle_application*, const char*, const char*) {
    log_debug(LIBRARY_TAG, "on stop notify");
}

void on_local_char_updated(const btle_application*, const char*, const char* char_uuid, GByteArray* byteArray) {
    GString* hex = g_byte_array_as_hex(byteArray);
    log_debug(LIBRARY_TAG, "characteristic <%s> updated to <%s>", char_uuid, hex->str);
    g_string_free(hex, TRUE);
}

void on_sigint(int signum) {
    if (signum != SIGINT) return;
    log_error("Btle", "received SIGINT");
    callback(loop);
}

gboolean callback(gpointer mainLoop) {
    log_debug(LIBRARY_TAG, "callback");
    if (agent != nullptr) {
        btle_agent_free(agent);
        agent = nullptr;
    }
    if (app != nullptr) {
        btle_adapter_unregister_application(default_adapter, app);
        btle_application_free(app);
        app = nullptr;
    }
    if (advertisement != nullptr) {
        btle_adapter_stop_advertising(default_adapter, advertisement);
        supervisor_time = now();
        ble_advertisment = false;
        btle_advertisement_free(advertisement);
        advertisement = nullptr;
    }
    if (default_adapter != nullptr) {
        btle_adapter_free(default_adapter);
        default_adapter = nullptr;
    }
    if (mainLoop != nullptr) g_main_loop_quit(static_cast<GMainLoop*>(mainLoop));
    return FALSE;
}
