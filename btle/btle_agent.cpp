#include "btle/btle_agent.h"

#include "btle/btle_adapter.h"
#include "btle/btle_bluez_names.h"
#include "btle/btle_device.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"

using namespace btle_names;

namespace {
const char* const TAG = "Agent";
const char* const AGENT_MANAGER_PATH = "/org/bluez";
const char* const PIN_CODE = "123";
const char* const IO_CAPABILITY_NAMES[] = {"DisplayOnly", "DisplayYesNo", "KeyboardOnly", "NoInputNoOutput",
                                           "KeyboardDisplay"};

const char* const AGENT_INTROSPECTION = "<node name='/org/bluez/SampleAgent'>"
                                        "  <interface name='org.bluez.Agent1'>"
                                        "    <method name='Release'/>"
                                        "    <method name='RequestPinCode'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "      <arg name='pincode' type='s' direction='out'/>"
                                        "    </method>"
                                        "    <method name='DisplayPinCode'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "      <arg name='pincode' type='s' direction='in'/>"
                                        "    </method>"
                                        "    <method name='RequestPasskey'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "      <arg name='passkey' type='u' direction='out'/>"
                                        "    </method>"
                                        "    <method name='DisplayPasskey'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "      <arg name='passkey' type='u' direction='in'/>"
                                        "      <arg name='entered' type='q' direction='in'/>"
                                        "    </method>"
                                        "    <method name='RequestConfirmation'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "      <arg name='passkey' type='u' direction='in'/>"
                                        "    </method>"
                                        "    <method name='RequestAuthorization'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "    </method>"
                                        "    <method name='AuthorizeService'>"
                                        "      <arg name='device' type='o' direction='in'/>"
                                        "      <arg name='uuid' type='s' direction='in'/>"
                                        "    </method>"
                                        "    <method name='Cancel'/>"
                                        "  </interface>"
                                        "</node>";
} // namespace

struct btle_agent {
    char* path;
    btle_io_capability io_capability;
    GDBusConnection* connection;
    btle_adapter* adapter;
    guint registration_id;
    btle_agent_request_authorization_cb request_authorization_callback;
    btle_agent_request_passkey_cb request_passkey_callback;
};

namespace {

btle_device* mark_bonding(btle_agent* agent, const char* device_path) {
    btle_device* device = btle_adapter_get_device_by_path(agent->adapter, device_path);
    if (device) btle_device_set_bonding_state(device, BTLE_BONDING);
    return device;
}

void bluez_agent_method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                             GVariant* params, GDBusMethodInvocation* invocation, gpointer user_data) {
    auto* agent = static_cast<btle_agent*>(user_data);
    g_assert(agent != NULL);
    g_assert(agent->adapter != NULL);
    const char* device_path = nullptr;
    if (g_str_equal(method, "RequestPinCode")) {
        g_variant_get(params, "(&o)", &device_path);
        log_debug(TAG, "request pincode for %s", device_path);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", PIN_CODE));
    } else if (g_str_equal(method, "DisplayPinCode")) {
        const char* pincode = nullptr;
        g_variant_get(params, "(&o&s)", &device_path, &pincode);
        log_debug(TAG, "displaying pincode %s", pincode);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (g_str_equal(method, "RequestPasskey")) {
        g_variant_get(params, "(&o)", &device_path);
        btle_device* device = mark_bonding(agent, device_path);
        if (agent->request_passkey_callback) {
            guint32 passkey = agent->request_passkey_callback(device);
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", passkey));
        } else {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Rejected", "No passkey inputted");
        }
    } else if (g_str_equal(method, "DisplayPasskey")) {
        guint32 passkey = 0;
        guint16 entered = 0;
        g_variant_get(params, "(&ouq)", &device_path, &passkey, &entered);
        log_debug(TAG, "passkey: %u, entered: %u", passkey, entered);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (g_str_equal(method, "RequestConfirmation")) {
        guint32 passkey = 0;
        g_variant_get(params, "(&ou)", &device_path, &passkey);
        log_debug(TAG, "request confirmation for %u", passkey);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (g_str_equal(method, "RequestAuthorization")) {
        g_variant_get(params, "(&o)", &device_path);
        log_debug(TAG, "request for authorization %s", device_path);
        btle_device* device = mark_bonding(agent, device_path);
        if (agent->request_authorization_callback && !agent->request_authorization_callback(device)) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Rejected", "Pairing rejected");
        } else {
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    } else if (g_str_equal(method, "AuthorizeService")) {
        log_debug(TAG, "authorize service");
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (g_str_equal(method, "Cancel")) {
        log_debug(TAG, "cancelling pairing");
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (g_str_equal(method, "Release")) {
        log_debug(TAG, "agent released");
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
        btle_return_unknown_method(invocation, method);
    }
}

const GDBusInterfaceVTable agent_vtable = {bluez_agent_method_call, nullptr, btle_refuse_property_set, {0}};

} // namespace

btle_agent* btle_agent_create(btle_adapter* adapter, const char* path, btle_io_capability io_capability) {
    g_assert(adapter != NULL);
    g_assert(path != NULL);
    btle_agent* agent = g_new0(btle_agent, 1);
    agent->path = g_strdup(path);
    agent->io_capability = io_capability;
    agent->adapter = adapter;
    agent->connection = btle_adapter_get_dbus_connection(adapter);
    g_assert(agent->connection != NULL);

    agent->registration_id =
        btle_export_object(agent->connection, path, AGENT_INTROSPECTION, &agent_vtable, agent, TAG);
    btle_agentmanager_register_agent(agent);
    return agent;
}

void btle_agent_free(btle_agent* agent) {
    g_assert(agent != NULL);
    if (!g_dbus_connection_unregister_object(agent->connection, agent->registration_id)) {
        log_debug(TAG, "could not unregister agent");
    }
    g_free(agent->path);
    g_free(agent);
}

int btle_agentmanager_call_method(GDBusConnection* connection, const char* method, GVariant* parameters) {
    g_assert(connection != NULL);
    g_assert(method != NULL);
    GError* error = nullptr;
    GVariant* result =
        g_dbus_connection_call_sync(connection, BLUEZ_DBUS, AGENT_MANAGER_PATH, INTERFACE_AGENT_MANAGER, method,
                                    parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (result == nullptr) {
        log_error(TAG, "AgentManager call failed '%s': %s\n", method, error ? error->message : "unknown");
        g_clear_error(&error);
        return 1;
    }
    g_variant_unref(result);
    return 0;
}

int btle_agentmanager_register_agent(btle_agent* agent) {
    g_assert(agent != NULL);
    const char* capability = IO_CAPABILITY_NAMES[agent->io_capability];
    if (btle_agentmanager_call_method(agent->connection, "RegisterAgent",
                                      g_variant_new("(os)", agent->path, capability)) != 0) {
        log_debug(TAG, "failed to register agent");
    }
    int result =
        btle_agentmanager_call_method(agent->connection, "RequestDefaultAgent", g_variant_new("(o)", agent->path));
    if (result != 0) log_debug(TAG, "failed to register agent as default agent");
    return result;
}

void btle_agent_set_request_authorization_cb(btle_agent* agent, btle_agent_request_authorization_cb callback) {
    g_assert(agent != NULL);
    g_assert(callback != NULL);
    agent->request_authorization_callback = callback;
}

void btle_agent_set_request_passkey_cb(btle_agent* agent, btle_agent_request_passkey_cb callback) {
    g_assert(agent != NULL);
    g_assert(callback != NULL);
    agent->request_passkey_callback = callback;
}

const char* btle_agent_get_path(const btle_agent* agent) {
    g_assert(agent != NULL);
    return agent->path;
}

btle_adapter* btle_agent_get_adapter(const btle_agent* agent) {
    g_assert(agent != NULL);
    return agent->adapter;
}
