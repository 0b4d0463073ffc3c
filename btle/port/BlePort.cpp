#include "btle/port/BlePort.h"

#include "porting/Log.h"
#include "porting/LogLimit.h"
#include "porting/Mac.h"
#include "porting/Shims.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <glib-unix.h>

char ble_device_name[20] = {};
std::atomic<bool> ble_initialized{false};
std::atomic<bool> ble_started{false};
std::atomic<bool> ble_advertisment{false};
std::atomic<bool> ble_application_registered{false};
std::atomic<uint32_t> ble_registrations_refused{0};
std::atomic<uint64_t> supervisor_time{0};
std::atomic<uint32_t> ble_mtu{BLE_MIN_MTU};
moodycamel::ConcurrentQueue<BleRequest> rxQueue(BLE_RX_QUEUE_LIMIT);
void (*ble_sigint_hook)() = nullptr;

namespace {
const char* const TAG = "BLE";
const char* const SUPERVISOR_TAG = "Ble Supervisor";
const char* const LIBRARY_TAG = "MAIN";
const char* const BLUEZ = "org.bluez";

// Owned by the "nimble_tasks" thread: only code that runs on its main loop touches them.
char ble_receive_packet[BLE_RECEIVE_SIZE];
uint32_t ble_receive_packet_index = 0;
// A request outgrew the buffer: its bytes are dropped up to and including its NUL.
bool ble_receive_discarding = false;
// Requests dropped for a full receive queue since the last line that said so, and when that line was written:
// a central that floods can only add one line per 10 s.
const uint64_t OVERFLOW_LOG_INTERVAL = 10000000;
uint32_t ble_receive_dropped = 0;
uint64_t ble_receive_overflow_logged = 0;
bool ble_receive_overflow_reported = false;
// A central writing over-long requests, and a missing adapter or bus, add one line per 10 s each.
LogLimit overlongLog;
LogLimit missingLog;
btle_adapter* default_adapter = nullptr;
btle_advertisement* advertisement = nullptr;
btle_application* app = nullptr;
btle_agent* agent = nullptr;
GMainLoop* loop = nullptr;
GDBusConnection* connection = nullptr;
guint bluezWatch = 0;
guint interfacesAdded = 0;
guint interfacesRemoved = 0;
// BlueZ had been seen before it left: its return is worth a line.
bool bluezSeen = false;

// Where a registration with BlueZ stands. Its calls are made one at a time: a call waits for the answer to
// the previous one, so the exported objects are never taken away while BlueZ is still reading them.
enum class Registration { Off, Registering, On, Unregistering };
Registration advertising = Registration::Off;
// What the port wants of the advertisement once the call in flight is answered.
bool advertisingWanted = false;
Registration application = Registration::Off;

// Back-off of a registration BlueZ refused, on the supervisor's clock.
struct Retry {
    uint64_t at = 0;
    uint64_t delay = BLE_SUPERVISOR_PERIOD;
    bool failing = false;
};
Retry advertisingRetry;
Retry applicationRetry;

// Counts the centrals that came and went: a request remembers the one it came from, and neither it nor its
// reply may reach another.
std::atomic<uint32_t> connectionEpoch{0};
// Requests in rxQueue or being taken out of it: never fewer than the queue holds.
std::atomic<uint32_t> rxQueued{0};
// The connection of the request that ble_get_rx handed out last, which the next reply answers.
std::atomic<uint32_t> replyConnection{0};

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

// A central came or went: nothing it sent or was sent may reach the next one.
void forgetConnection() {
    connectionEpoch.fetch_add(1);
    ble_receive_packet_index = 0;
    ble_receive_discarding = false;
    BleRequest stale;
    while (rxQueue.try_dequeue(stale)) rxQueued.fetch_sub(1);
    ble_mtu = BLE_MIN_MTU;
}

bool alreadyRegistered(const GError* error) {
    gchar* name = g_dbus_error_get_remote_error(error);
    bool exists = name != nullptr && g_str_equal(name, "org.bluez.Error.AlreadyExists");
    g_free(name);
    return exists;
}

// The next try waits twice as long as the last one did.
void postpone(Retry& retry) {
    retry.failing = true;
    retry.at = now() + retry.delay;
    retry.delay = std::min(retry.delay * 2, BLE_RETRY_LIMIT);
}

// The count is raised last: whoever waits for it finds the back-off already timed from the moment of the
// refusal, not from a clock moved on meanwhile.
void refused(Retry& retry, const char* what, const GError* error) {
    // One line per outage: the retries that follow fail the same way.
    if (!retry.failing) LOGE(SUPERVISOR_TAG, "%s refused (%s), retrying\n", what, error->message);
    postpone(retry);
    ble_registrations_refused.fetch_add(1);
}

void accepted(Retry& retry, const char* what) {
    if (retry.failing) LOGW(SUPERVISOR_TAG, "%s registered again\n", what);
    retry = Retry{};
}

void startAdvertising() {
    advertisingWanted = true;
    if (advertising != Registration::Off || default_adapter == nullptr || advertisement == nullptr) return;
    advertising = Registration::Registering;
    btle_adapter_start_advertising(default_adapter, advertisement);
}

void stopAdvertising() {
    advertisingWanted = false;
    if (advertising != Registration::On) return;
    advertising = Registration::Unregistering;
    ble_advertisment = false;
    btle_adapter_stop_advertising(default_adapter, advertisement);
}

void registerApplication() {
    if (application != Registration::Off || default_adapter == nullptr || app == nullptr) return;
    application = Registration::Registering;
    btle_adapter_register_application(default_adapter, app);
}

// BlueZ dropped the registration on its own (a Release while it held it; the one that follows the port's
// own unregistration finds it no longer on). The supervisor registers it again after the back-off, so that a
// BlueZ that keeps dropping it is not asked in a loop.
void advertisementReleased(btle_advertisement*) {
    if (advertising != Registration::On) return;
    advertising = Registration::Off;
    if (!advertisingRetry.failing) LOGE(SUPERVISOR_TAG, "Advertisement released by BlueZ, registering it again\n");
    postpone(advertisingRetry);
    // The flag falls last, once the back-off is timed from the release.
    ble_advertisment = false;
}

void advertisementAnswered(const GError* error) {
    if (error != nullptr && !alreadyRegistered(error)) {
        advertising = Registration::Off;
        ble_advertisment = false;
        refused(advertisingRetry, "Advertisement", error);
        return;
    }
    advertising = Registration::On;
    ble_advertisment = true;
    accepted(advertisingRetry, "Advertisement");
    // A central connected while BlueZ was registering it.
    if (!advertisingWanted) stopAdvertising();
}

void applicationAnswered(const GError* error) {
    if (error != nullptr && !alreadyRegistered(error)) {
        application = Registration::Off;
        ble_application_registered = false;
        refused(applicationRetry, "GATT application", error);
        return;
    }
    application = Registration::On;
    ble_application_registered = true;
    accepted(applicationRetry, "GATT application");
}

void supervise(uint64_t time) {
    if (default_adapter == nullptr || advertisement == nullptr || app == nullptr) {
        if (uint32_t count = 0; missingLog.due(count))
            LOGE(SUPERVISOR_TAG, "Error in adapter or advertisment (%u time(s) since the last line)\n",
                 unsigned(count));
        return;
    }
    if (application == Registration::Off && time >= applicationRetry.at) registerApplication();
    if (advertising == Registration::Off && time >= advertisingRetry.at) {
        if (!advertisingRetry.failing) LOGW(SUPERVISOR_TAG, "Started advertising\n");
        startAdvertising();
    }
}

void receiveRequest() {
    // Counted before it is queued, so that the count never falls below what the queue holds.
    if (rxQueued.load() >= BLE_RX_QUEUE_LIMIT) {
        ++ble_receive_dropped;
        const uint64_t time = now();
        if (!ble_receive_overflow_reported || time - ble_receive_overflow_logged >= OVERFLOW_LOG_INTERVAL) {
            LOGE(TAG, "Receive queue full: %u request(s) dropped since the last report\n",
                 unsigned(ble_receive_dropped));
            ble_receive_dropped = 0;
            ble_receive_overflow_logged = time;
            ble_receive_overflow_reported = true;
        }
        return;
    }
    rxQueued.fetch_add(1);
    // A request that cannot be queued (out of memory) is dropped.
    if (!rxQueue.enqueue(
            BleRequest{connectionEpoch.load(), std::string(ble_receive_packet, ble_receive_packet_index - 1)}))
        rxQueued.fetch_sub(1);
}

void receiveByte(char byte) {
    if (ble_receive_discarding) {
        if (byte == '\0') ble_receive_discarding = false;
        return;
    }
    if (ble_receive_packet_index >= BLE_RECEIVE_SIZE) {
        if (uint32_t dropped = 0; overlongLog.due(dropped))
            LOGE(TAG, "Request longer than %u bytes dropped (%u since the last line)\n", unsigned(BLE_RECEIVE_SIZE - 1),
                 unsigned(dropped));
        ble_receive_packet_index = 0;
        ble_receive_discarding = byte != '\0';
        return;
    }
    ble_receive_packet[ble_receive_packet_index++] = byte;
    if (byte == '\0') {
        receiveRequest();
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
    btle_advertisement_set_released_cb(advertisement, advertisementReleased);
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
    registerApplication();
}

void setUpAdapter() {
    log_debug(LIBRARY_TAG, "using default_adapter '%s'", btle_adapter_get_path(default_adapter));
    btle_adapter_set_powered_state_cb(default_adapter, on_powered_state_changed);
    btle_adapter_set_registration_cb(default_adapter, on_registration);
    if (!btle_adapter_get_powered_state(default_adapter)) btle_adapter_power_on(default_adapter);
    btle_adapter_set_alias(default_adapter, ble_device_name);
    btle_adapter_discoverable_on(default_adapter);
    btle_adapter_pairable_off(default_adapter);
    btle_adapter_set_remote_central_cb(default_adapter, on_central_state_changed);
    btle_adapter_set_device_removal_cb(default_adapter, on_device_removed);
    setUpAdvertisement();
    startAdvertising();
    setUpApplication();
}

void bringUp() {
    default_adapter = btle_adapter_get_default(connection);
    if (default_adapter == nullptr) log_debug(LIBRARY_TAG, "No default_adapter found");
    else setUpAdapter();
}

// BlueZ or the adapter is gone, and with it every registration: the objects are unexported and freed
// without calls that nobody would answer.
void release() {
    if (app != nullptr) {
        btle_application_free(app);
        app = nullptr;
    }
    if (advertisement != nullptr) {
        btle_advertisement_free(advertisement);
        advertisement = nullptr;
    }
    if (default_adapter != nullptr) {
        btle_adapter_free(default_adapter);
        default_adapter = nullptr;
    }
    advertising = Registration::Off;
    advertisingWanted = false;
    application = Registration::Off;
    ble_advertisment = false;
    ble_application_registered = false;
    advertisingRetry = Retry{};
    applicationRetry = Retry{};
    forgetConnection();
}

void onBluezAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer) {
    if (bluezSeen) LOGW(TAG, "Bluetooth service is back\n");
    bluezSeen = true;
    if (default_adapter == nullptr) bringUp();
}

void onBluezVanished(GDBusConnection*, const gchar*, gpointer) {
    if (bluezSeen || default_adapter != nullptr) LOGE(TAG, "Bluetooth service gone\n");
    else log_debug(LIBRARY_TAG, "No default_adapter found");
    release();
}

bool listsAdapter(GVariantIter* interfaces, bool withProperties) {
    const char* name = nullptr;
    bool found = false;
    while (withProperties ? g_variant_iter_next(interfaces, "{&s@a{sv}}", &name, nullptr)
                          : g_variant_iter_next(interfaces, "&s", &name))
        found = found || g_str_equal(name, "org.bluez.Adapter1");
    return found;
}

void onInterfacesAdded(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                       gpointer) {
    if (default_adapter != nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa{sa{sv}})"))) return;
    GVariantIter* interfaces = nullptr;
    g_variant_get(parameters, "(&oa{sa{sv}})", nullptr, &interfaces);
    bool adapter = listsAdapter(interfaces, true);
    g_variant_iter_free(interfaces);
    if (adapter) bringUp();
}

void onInterfacesRemoved(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                         gpointer) {
    if (default_adapter == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oas)"))) return;
    const char* path = nullptr;
    GVariantIter* interfaces = nullptr;
    g_variant_get(parameters, "(&oas)", &path, &interfaces);
    bool ours = listsAdapter(interfaces, false) && g_str_equal(path, btle_adapter_get_path(default_adapter));
    g_variant_iter_free(interfaces);
    if (!ours) return;
    LOGE(TAG, "Adapter %s removed\n", path);
    release();
    // Another adapter may serve instead.
    bringUp();
}

void watchBluez() {
    bluezWatch = g_bus_watch_name_on_connection(connection, BLUEZ, G_BUS_NAME_WATCHER_FLAGS_NONE, onBluezAppeared,
                                                onBluezVanished, nullptr, nullptr);
    interfacesAdded = g_dbus_connection_signal_subscribe(connection, BLUEZ, "org.freedesktop.DBus.ObjectManager",
                                                         "InterfacesAdded", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                         onInterfacesAdded, nullptr, nullptr);
    interfacesRemoved = g_dbus_connection_signal_subscribe(
        connection, BLUEZ, "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved", nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, onInterfacesRemoved, nullptr, nullptr);
}

void stopWatchingBluez() {
    if (bluezWatch != 0) g_bus_unwatch_name(bluezWatch);
    if (interfacesAdded != 0) g_dbus_connection_signal_unsubscribe(connection, interfacesAdded);
    if (interfacesRemoved != 0) g_dbus_connection_signal_unsubscribe(connection, interfacesRemoved);
    bluezWatch = interfacesAdded = interfacesRemoved = 0;
}

// A connection of the port's own: the process-wide system bus connection is shared with every other user
// in the process, and closing it at the end would cut them off.
GDBusConnection* openSystemBus() {
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    GDBusConnection* bus = nullptr;
    if (address != nullptr)
        bus =
            g_dbus_connection_new_for_address_sync(address,
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, &error);
    g_free(address);
    if (bus == nullptr) {
        LOGE(TAG, "No system bus: %s\n", error != nullptr ? error->message : "unknown");
        g_clear_error(&error);
    }
    return bus;
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
    connection = openSystemBus();
    loop = g_main_loop_new(nullptr, FALSE);
    // Handled on the main loop, not in the signal handler: the tear-down makes D-Bus calls.
    if (g_unix_signal_add(SIGINT, sigintSource, nullptr) == 0) log_error("Btle", "can't catch SIGINT");
    // The set-up waits for BlueZ's name on the bus, and is made again whenever BlueZ comes back.
    if (connection != nullptr) watchBluez();
    else log_debug(LIBRARY_TAG, "No default_adapter found");

    ble_started = true;
    g_main_loop_run(loop);

    g_main_loop_unref(loop);
    loop = nullptr;
    // Said before the flag falls, so whoever waits for the flag finds the line written.
    LOGE(TAG, "Terminated\n");
    ble_started = false;
    if (connection != nullptr) {
        // The tear-down's unregistrations are still queued: they go out before the connection closes.
        g_dbus_connection_flush_sync(connection, nullptr, nullptr);
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_clear_object(&connection);
    }
}

std::string ble_get_rx() {
    BleRequest request;
    while (rxQueue.try_dequeue(request)) {
        rxQueued.fetch_sub(1);
        if (request.connection != connectionEpoch.load()) continue;
        replyConnection = request.connection;
        return std::move(request.text);
    }
    return "";
}

void ble_set_tx(std::string reply) {
    // After the tear-down nothing is there to send it, and nothing would run the job.
    if (!ble_started) return;
    uint32_t addressee = replyConnection.load();
    runOnLoop(new auto([reply = std::move(reply), addressee] {
        if (addressee == connectionEpoch.load()) sendReply(reply);
    }));
}

void ble_supervisor() {
    if (!ble_started) return;
    uint64_t time = now();
    uint64_t last = supervisor_time.load();
    // The loop thread may stamp a time later than the one read here: that is recent activity, not a gap.
    if (time <= last || time - last <= BLE_SUPERVISOR_PERIOD) return;
    supervisor_time = time;
    if (ble_advertisment && ble_application_registered) return;
    runOnLoop(new auto([time] { supervise(time); }));
}

void on_powered_state_changed(btle_adapter* adapter, gboolean state) {
    log_debug(LIBRARY_TAG, "powered '%s' (%s)", state ? "on" : "off", btle_adapter_get_path(adapter));
}

void on_central_state_changed(btle_adapter*, btle_device* device) {
    char* text = btle_device_to_string(device);
    log_debug(LIBRARY_TAG, "%s", text);
    g_free(text);
    log_debug(LIBRARY_TAG, "remote central %s is %s", btle_device_get_address(device),
              btle_device_get_connection_state_name(device));
    btle_connection_state state = btle_device_get_connection_state(device);
    if (state == BTLE_CONNECTED) {
        log_debug(LIBRARY_TAG, "MTU = %d", int(btle_device_get_mtu(device)));
        forgetConnection();
        stopAdvertising();
        supervisor_time = now();
    } else if (state == BTLE_DISCONNECTED) {
        forgetConnection();
        startAdvertising();
    }
}

void on_device_removed(btle_adapter*, btle_device* device) {
    // A central removed without a disconnection first is gone all the same.
    if (btle_device_is_central(device) && btle_device_get_connection_state(device) == BTLE_CONNECTED) {
        forgetConnection();
        startAdvertising();
    }
}

void on_registration(btle_adapter*, btle_registration_call call, const GError* error) {
    switch (call) {
    case BTLE_ADVERTISEMENT_REGISTERED:
        advertisementAnswered(error);
        break;
    case BTLE_ADVERTISEMENT_UNREGISTERED:
        // Refused or not, BlueZ no longer holds it.
        advertising = Registration::Off;
        ble_advertisment = false;
        if (advertisingWanted) startAdvertising();
        break;
    case BTLE_APPLICATION_REGISTERED:
        applicationAnswered(error);
        break;
    case BTLE_APPLICATION_UNREGISTERED:
        break;
    }
}

const char* on_local_char_read(const btle_application*, const char*, const char*, const char* char_uuid, guint16,
                               guint16) {
    log_debug(LIBRARY_TAG, "on_local_char_read <%s>", char_uuid);
    return "org.bluez.Error.Rejected";
}

const char* on_local_char_write(const btle_application*, const char*, const char* service_uuid, const char* char_uuid,
                                GByteArray* byteArray, guint16 mtu, guint16) {
    log_debug(LIBRARY_TAG, "received packet <%.*s> %d", int(ble_receive_packet_index), ble_receive_packet, int(mtu));
    if (std::strcmp(service_uuid, BLE_SERVICE_UUID) != 0 || std::strcmp(char_uuid, BLE_RX_UUID) != 0) return nullptr;
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
    if (ble_sigint_hook) ble_sigint_hook();
}

gboolean callback(gpointer mainLoop) {
    log_debug(LIBRARY_TAG, "callback");
    stopWatchingBluez();
    if (agent != nullptr) {
        btle_agent_free(agent);
        agent = nullptr;
    }
    if (app != nullptr) {
        if (default_adapter != nullptr) btle_adapter_unregister_application(default_adapter, app);
        btle_application_free(app);
        app = nullptr;
    }
    if (advertisement != nullptr) {
        if (default_adapter != nullptr && (advertising == Registration::Registering || advertising == Registration::On))
            btle_adapter_stop_advertising(default_adapter, advertisement);
        supervisor_time = now();
        btle_advertisement_free(advertisement);
        advertisement = nullptr;
    }
    release();
    if (mainLoop != nullptr) g_main_loop_quit(static_cast<GMainLoop*>(mainLoop));
    return FALSE;
}
