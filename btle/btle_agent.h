// Pairing agent ("org.bluez.Agent1") registered as BlueZ's default agent.
#pragma once

#include "btle/btle_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    BTLE_IO_CAPABILITY_DISPLAY_ONLY = 0,
    BTLE_IO_CAPABILITY_DISPLAY_YES_NO = 1,
    BTLE_IO_CAPABILITY_KEYBOARD_ONLY = 2,
    BTLE_IO_CAPABILITY_NO_INPUT_NO_OUTPUT = 3,
    BTLE_IO_CAPABILITY_KEYBOARD_DISPLAY = 4,
} btle_io_capability;

typedef gboolean (*btle_agent_request_authorization_cb)(btle_device* device);
typedef guint32 (*btle_agent_request_passkey_cb)(btle_device* device);

btle_agent* btle_agent_create(btle_adapter* adapter, const char* path, btle_io_capability io_capability);
void btle_agent_free(btle_agent* agent);
// 0 on success, 1 on failure (the result of RequestDefaultAgent).
int btle_agentmanager_register_agent(btle_agent* agent);
// Synchronous call to "org.bluez.AgentManager1"; 0 on success, 1 on failure. Takes a floating parameters ref.
int btle_agentmanager_call_method(GDBusConnection* connection, const char* method, GVariant* parameters);
void btle_agent_set_request_authorization_cb(btle_agent* agent, btle_agent_request_authorization_cb callback);
void btle_agent_set_request_passkey_cb(btle_agent* agent, btle_agent_request_passkey_cb callback);
const char* btle_agent_get_path(const btle_agent* agent);
btle_adapter* btle_agent_get_adapter(const btle_agent* agent);

#ifdef __cplusplus
}
#endif
