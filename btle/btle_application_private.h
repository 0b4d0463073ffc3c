#pragma once
// The application record, shared by the application and its local service, characteristic and descriptor
// objects (which call the owner's callbacks and register on its connection).
#include "btle/btle_application.h"

#ifdef __cplusplus
extern "C" {
#endif

struct btle_application {
    char* path;
    guint registration_id;
    GDBusConnection* connection;
    GHashTable* services; // service UUID -> btle_local_service
    onLocalCharacteristicWrite write_char_cb;
    onLocalCharacteristicRead read_char_cb;
    onLocalCharacteristicUpdated char_updated_cb;
    onLocalCharacteristicStartNotify notify_char_cb;
    onLocalCharacteristicStopNotify stop_notify_char_cb;
    onLocalDescriptorWrite write_desc_cb;
    onLocalDescriptorRead read_desc_cb;
    void* user_data;
};

// Options of a ReadValue or WriteValue call. An option of an unexpected type is skipped with a log line:
// the options come from the bus, so they must not be able to stop the process.
typedef struct {
    guint16 offset;
    guint16 mtu;
    char* device; // device address, or NULL
    char* link;
    char* type; // write only
} btle_value_options;

void parse_read_options(GVariant* options, btle_value_options* result);
void parse_write_options(GVariant* options, btle_value_options* result);
void read_options_free(btle_value_options* options);
void write_options_free(btle_value_options* options);

// BlueZ flag strings of a property bit mask, in table order; free with g_list_free(list) (static strings).
GList* flags_to_string_list(guint permissions);
// "as" builder of a flag list.
GVariant* flags_to_variant(GList* flags);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
// A ReadValue or WriteValue of a local characteristic or descriptor: `call` runs the owner's callback with the
// call's options (and, for a write, its bytes) and gives the D-Bus error name of a refusal or NULL. A read is
// answered with *value as it stands after the callback; a write that is not refused is stored by `store`.
// The messages name the object: `refused` goes with the callback's error, `empty` with a read of no value.
using btle_local_read_call = const char* (*)(void* object, const btle_value_options* options);
using btle_local_write_call = const char* (*)(void* object, const btle_value_options* options, GByteArray* bytes);
struct btle_local_read_messages {
    const char* refused;
    const char* empty;
};
void btle_local_serve_read(void* object, btle_local_read_call call, GByteArray* const* value,
                           btle_local_read_messages messages, GVariant* parameters, GDBusMethodInvocation* invocation);
void btle_local_serve_write(void* object, btle_local_write_call call, void (*store)(void* object, GByteArray* bytes),
                            GVariant* parameters, GDBusMethodInvocation* invocation);
#endif
