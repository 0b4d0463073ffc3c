#include "tests/support/BluezBus.h"
#include "btle/btle.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const AGENT_PATH = "/org/pedal/agent";
const char* const DEVICE_PATH = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF";

gboolean refuse(btle_device*) { return FALSE; }

std::string callAgent(BluezBus& bus, const char* method, const char* signature, GVariant* arguments) {
    GVariant* reply = bus.call("CallAgent", g_variant_new("(sss@av)", AGENT_PATH, method, signature, arguments));
    if (reply == nullptr) return "no reply";
    const char* text = nullptr;
    g_variant_get(reply, "(&s)", &text);
    std::string result = text;
    g_variant_unref(reply);
    return result;
}

GVariant* args(std::initializer_list<GVariant*> values) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("av"));
    for (GVariant* value : values) g_variant_builder_add(&builder, "v", value);
    return g_variant_builder_end(&builder);
}

TEST(BtleAgent, RegistersWithItsCapabilityAnswersBlueZAndAsksAgainWhenRefused) {
    BluezBus bus;
    ASSERT_TRUE(bus.ready);
    log_set_level(LOG_LEVEL_INFO);
    bus.addObject(DEVICE_PATH, "org.bluez.Device1", props({}));
    btle_adapter* adapter = btle_adapter_get_default(bus.connection());
    ASSERT_NE(adapter, nullptr);
    btle_device* device = btle_adapter_get_device_by_path(adapter, DEVICE_PATH);
    ASSERT_NE(device, nullptr);

    btle_agent* agent = btle_agent_create(adapter, AGENT_PATH, BTLE_IO_CAPABILITY_NO_INPUT_NO_OUTPUT);
    EXPECT_TRUE(bus.called(std::string("RegisterAgent ") + AGENT_PATH + " NoInputNoOutput"));
    EXPECT_TRUE(bus.called(std::string("RequestDefaultAgent ") + AGENT_PATH));

    const struct {
        const char* method;
        const char* signature;
        GVariant* arguments;
        std::string expected;
    } cases[] = {
        {"RequestPasskey", "o", args({g_variant_new_object_path(DEVICE_PATH)}),
         "error org.bluez.Error.Rejected No passkey inputted"},
        {"RequestPinCode", "o", args({g_variant_new_object_path(DEVICE_PATH)}), "ok 123"},
        {"RequestAuthorization", "o", args({g_variant_new_object_path(DEVICE_PATH)}), "ok "},
        {"RequestConfirmation", "ou", args({g_variant_new_object_path(DEVICE_PATH), g_variant_new_uint32(1234)}),
         "ok "},
        {"Cancel", "", args({}), "ok "},
    };
    for (const auto& c : cases) EXPECT_EQ(callAgent(bus, c.method, c.signature, c.arguments), c.expected) << c.method;
    EXPECT_EQ(btle_device_get_bonding_state(device), BTLE_BONDING);

    btle_agent_set_request_authorization_cb(agent, refuse);
    EXPECT_EQ(
        callAgent(bus, "RequestAuthorization", "o", args({g_variant_new_object_path("/org/bluez/hci0/dev_unknown")})),
        "error org.bluez.Error.Rejected Pairing rejected");
    btle_agent_free(agent);

    // A refused default request is reported; asking again goes through.
    bus.control("FailNext", g_variant_new("(s)", "RequestDefaultAgent"));
    agent = btle_agent_create(adapter, AGENT_PATH, BTLE_IO_CAPABILITY_DISPLAY_ONLY);
    EXPECT_TRUE(bus.called(std::string("RegisterAgent ") + AGENT_PATH + " DisplayOnly"));
    EXPECT_EQ(btle_agentmanager_register_agent(agent), 0);
    btle_agent_free(agent);
    btle_adapter_free(adapter);
}

} // namespace
