#pragma once
// The Bluetooth LE port layer: a GATT peripheral with one UART-style service. The "nimble_tasks" thread runs
// the GLib main loop of the BLE library, reassembles NUL-terminated requests written to the RX
// characteristic and hands them to the "comTasks" thread through rxQueue; replies go back as notifications
// of the TX characteristic. Every call into the library runs on the main-loop thread: the replies and the
// supervisor's work that "comTasks" asks for are handed over to it, so the library needs no lock.
// The port follows BlueZ: it sets everything up when the service and an adapter are there, registers the
// application and advertisement again after a restart or reset, and releases everything when they go.
#include "btle/btle.h"

#include <atomic>
#include <concurrentqueue/concurrentqueue.h>
#include <cstdint>
#include <string>

inline constexpr const char* BLE_SERVICE_UUID = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* BLE_RX_UUID = "6e400002-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr const char* BLE_TX_UUID = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";
inline constexpr unsigned BLE_RX_PROPERTIES = 0x04; // "write-without-response"
inline constexpr unsigned BLE_TX_PROPERTIES = 0x12; // "read", "notify"
inline constexpr uint32_t BLE_RECEIVE_SIZE = 10000;
inline constexpr uint32_t BLE_MIN_MTU = 128;
// Bytes of an MTU that a notification's payload leaves unused.
inline constexpr uint32_t BLE_MTU_OVERHEAD = 8;
// Time without a BLE event after which the supervisor registers the advertisement again.
inline constexpr uint64_t BLE_SUPERVISOR_PERIOD = 5000000;
// A registration BlueZ refused is tried again after 5 s, then after twice as long each time, up to 80 s.
inline constexpr uint64_t BLE_RETRY_LIMIT = 16 * BLE_SUPERVISOR_PERIOD;
// Requests waiting for "comTasks": further ones are dropped until it catches up, so that a request never
// waits behind more than a few seconds of work and a flooding central cannot grow the queue.
inline constexpr uint32_t BLE_RX_QUEUE_LIMIT = 16;

// A complete request and the connection it came in on (see ble_get_rx).
struct BleRequest {
    uint32_t connection = 0;
    std::string text;
};

// Adapter alias and advertised name: at most 19 characters and a NUL.
extern char ble_device_name[20];
extern std::atomic<bool> ble_initialized;
// The thread's main loop is running.
extern std::atomic<bool> ble_started;
// The advertisement is registered with the adapter: BlueZ accepted it and it was not unregistered since.
extern std::atomic<bool> ble_advertisment;
// BlueZ accepted the GATT application.
extern std::atomic<bool> ble_application_registered;
// Registrations BlueZ refused since the start, for diagnostics.
extern std::atomic<uint32_t> ble_registrations_refused;
// Time of the last BLE event (a write to RX, a central connecting, a supervisor run, tear-down).
extern std::atomic<uint64_t> supervisor_time;
// The larger of 128 and the "mtu" option of the last write to RX.
extern std::atomic<uint32_t> ble_mtu;
// Complete requests, from the "nimble_tasks" thread to the "comTasks" thread; at most BLE_RX_QUEUE_LIMIT.
extern moodycamel::ConcurrentQueue<BleRequest> rxQueue;

// Starts the port once (the "nimble_tasks" thread); a second call logs and changes nothing. Returns 0.
int ble_start(const char* name);
// Body of the "nimble_tasks" thread.
void nimble_tasks(void* unused);
// One request from rxQueue, or "" when none is waiting. Requests of a central that has gone are dropped.
std::string ble_get_rx();
// Sends the reply and its NUL as notifications of TX, cut to ble_mtu - 8 bytes each, in order; dropped when
// the central that sent the last request ble_get_rx returned has gone since.
void ble_set_tx(std::string reply);
// When nothing happened for 5 s: registers the advertisement and the application again when they are off
// (a refused one only once its back-off has passed), or reports a missing adapter.
void ble_supervisor();

// Library callbacks installed by nimble_tasks (all run on the main-loop thread).
void on_powered_state_changed(btle_adapter* adapter, gboolean state);
void on_central_state_changed(btle_adapter* adapter, btle_device* device);
void on_device_removed(btle_adapter* adapter, btle_device* device);
void on_registration(btle_adapter* adapter, btle_registration_call call, const GError* error);
const char* on_local_char_read(const btle_application* application, const char* address, const char* service_uuid,
                               const char* char_uuid, guint16 mtu, guint16 offset);
const char* on_local_char_write(const btle_application* application, const char* address, const char* service_uuid,
                                const char* char_uuid, GByteArray* byteArray, guint16 mtu, guint16 offset);
void on_local_char_start_notify(const btle_application* application, const char* service_uuid, const char* char_uuid);
void on_local_char_stop_notify(const btle_application* application, const char* service_uuid, const char* char_uuid);
void on_local_char_updated(const btle_application* application, const char* service_uuid, const char* char_uuid,
                           GByteArray* byteArray);
// SIGINT: tears the port down, ends its main loop, then calls ble_sigint_hook when one is set.
void on_sigint(int signum);
// What the process does after a SIGINT has torn the port down (on the main-loop thread, not in a signal
// handler); null: the process goes on.
extern void (*ble_sigint_hook)();
// Tear-down: unregisters and frees the application, the advertisement and the adapter, quits the loop.
gboolean callback(gpointer loop);
