#include "core/NodeItem.h"
#include "tests/remote/RemoteTestSupport.h"
#include "remote/SandboxCommandRunner.h"
#include "remote/Wifi.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

std::string home() { return std::getenv("PEDAL_HOME"); }
std::string nmcliFolder() { return home() + "/hostbin/nmcli"; }

// Every call the nmcli stand-in received, oldest first, each as its argument list.
std::vector<std::vector<std::string>> nmcliCalls() {
    std::vector<std::string> files;
    if (fs::exists(nmcliFolder() + "/calls"))
        for (const auto& entry : fs::directory_iterator(nmcliFolder() + "/calls")) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<std::string>> calls;
    for (const std::string& file : files) {
        std::string data = readFile(file);
        std::vector<std::string> arguments;
        for (size_t at = 0; at < data.size();) {
            size_t end = data.find('\0', at);
            arguments.push_back(data.substr(at, end - at));
            at = end + 1;
        }
        calls.push_back(arguments);
    }
    return calls;
}

int connectCalls() {
    int count = 0;
    for (const auto& call : nmcliCalls())
        if (call.size() > 4 && call[4] == "connect") ++count;
    return count;
}

class WifiConnection : public ::testing::Test {
protected:
    void SetUp() override {
        tree = &testTree();
        fs::remove_all(home() + "/hostbin");
        wifi = std::make_unique<Wifi>(tree->root, tree->name, 0);
        wifi->getSsidNode()->setValue("");
        wifi->getPasswordNode()->setValue("");
    }
    void reachable(const std::string& network) { writeFile(nmcliFolder() + "/networks", network + "\n"); }
    // What a pass of the transport shows, as a page or a client reads it.
    std::string state() {
        wifi->tasks();
        return wifi->getStateNode()->getValue();
    }
    TestTree* tree = nullptr;
    std::unique_ptr<Wifi> wifi;
    const int64_t t0 = 1000000000;
};

TEST_F(WifiConnection, HostileNetworkSettingsReachNmcliByteForByte) {
    const std::string ssid = "it's \"my\" $(touch pwned) `touch pwned2` \\ \n; | & * ? \x01\xff"s;
    const std::string password = "p'a's's\n$HOME`id`\\'"s;
    wifi->getSsidNode()->setValue(ssid);
    wifi->getPasswordNode()->setValue(password);
    wifi->connectionPass(t0);
    std::vector<std::vector<std::string>> expected = {
        {"device", "disconnect", "wlan0"},
        {"connection", "delete", ssid},
        {"--wait", "10", "device", "wifi", "connect", ssid, "password", password, "ifname", "wlan0"},
        {"-g", "DEVICE,STATE", "device"},
    };
    EXPECT_EQ(nmcliCalls(), expected);
    for (const char* name : {"pwned", "pwned2"}) {
        EXPECT_FALSE(fs::exists(home() + "/hostbin/path/" + name));
        EXPECT_FALSE(fs::exists(fs::current_path() / name));
    }
}

TEST_F(WifiConnection, StateNodeMovesThroughConnectingToConnected) {
    reachable("Home");
    EXPECT_EQ(state(), "DISCONNECTED");
    wifi->connectionPass(t0);
    EXPECT_EQ(state(), "DISCONNECTED") << "an empty network name connects to nothing";
    wifi->getSsidNode()->setValue("Home");
    wifi->getPasswordNode()->setValue("secret");
    wifi->connectionPass(t0 + 5000000);
    EXPECT_EQ(state(), "CONNECTING") << "no poll within 10 s of the last one";
    wifi->connectionPass(t0 + 10000000);
    EXPECT_EQ(state(), "CONNECTING");
    wifi->connectionPass(t0 + 15000000);
    EXPECT_EQ(state(), "CONNECTED");
    EXPECT_EQ(readFile(home() + "/hostbin/systemctl.log"), "restart avahi-daemon\n")
        << "the mDNS daemon restarts when the link comes up";
    EXPECT_EQ(connectCalls(), 2);
}

TEST_F(WifiConnection, ConnectCommandRules) {
    wifi->getSsidNode()->setValue("Away");
    int64_t now = t0;
    wifi->connectionPass(now);
    EXPECT_EQ(connectCalls(), 1);
    // Unreachable: repeated on the first pass more than 30 s after the previous attempt.
    for (int pass = 1; pass <= 7; ++pass) wifi->connectionPass(now += Wifi::HANDLER_PERIOD_US);
    EXPECT_EQ(connectCalls(), 2) << "after 35 s";
    // A new name launches at once, also while connected.
    reachable("Home");
    wifi->getSsidNode()->setValue("Home");
    wifi->connectionPass(now += Wifi::HANDLER_PERIOD_US);
    wifi->connectionPass(now += 2 * Wifi::POLL_US);
    EXPECT_EQ(wifi->getLinkState(), Wifi::CONNECTED);
    wifi->getPasswordNode()->setValue("changed");
    wifi->connectionPass(now += Wifi::HANDLER_PERIOD_US);
    EXPECT_EQ(connectCalls(), 4);
    // An emptied name runs the command once (it disconnects), then never while it stays empty.
    wifi->getSsidNode()->setValue("");
    for (int pass = 0; pass < 30; ++pass) wifi->connectionPass(now += Wifi::HANDLER_PERIOD_US);
    EXPECT_EQ(connectCalls(), 5);
    EXPECT_EQ(wifi->getLinkState(), Wifi::DISCONNECTED);
}

// Parses the service file with Python's XML parser: {"name", "type", "port", "txt": [...]}.
nlohmann::json parseServiceFile(const std::string& path) {
    const char* script = "import json, sys, xml.dom.minidom as m\n"
                         "d = m.parse(sys.argv[1])\n"
                         "text = lambda e: ''.join(n.data for n in e.childNodes)\n"
                         "print(json.dumps({'name': text(d.getElementsByTagName('name')[0]),\n"
                         "  'type': text(d.getElementsByTagName('type')[0]),\n"
                         "  'port': text(d.getElementsByTagName('port')[0]),\n"
                         "  'txt': [text(e) for e in d.getElementsByTagName('txt-record')]}))\n";
    std::string output;
    int status = runProgram(PEDAL_PYTHON, "- '" + path + "'", output, script);
    EXPECT_EQ(status, 0) << output;
    return nlohmann::json::parse(output, nullptr, false);
}

TEST_F(WifiConnection, ServiceFileIsWellFormedXmlWhateverTheDeviceName) {
    const std::string file = home() + "/etc/avahi/services/http.service";
    struct Case {
        std::string name;
        std::string announced;
    } cases[] = {
        {"Pedal", "Pedal"},
        {"$(touch pwned) `touch pwned` $HOME \\ \\\\ ${x}", "$(touch pwned) `touch pwned` $HOME \\ \\\\ ${x}"},
        {"a\nEOF\nb", "a\nEOF\nb"},
        {"<b>&amp;\"'</b>", "<b>&amp;\"'</b>"},
        {"\x01 caf\xe9 caf\xc3\xa9"s, "\xef\xbf\xbd caf\xc3\xa9 caf\xc3\xa9"s},
    };
    for (const Case& c : cases) {
        NodeItem name(nullptr, "_name", "Name", c.name, "string");
        Wifi named(tree->root, &name, 8080);
        fs::remove(file);
        ASSERT_TRUE(named.writeServiceFile()) << c.name;
        nlohmann::json parsed = parseServiceFile(file);
        ASSERT_TRUE(parsed.is_object()) << readFile(file);
        EXPECT_EQ(parsed["name"], "zembo" + Wifi::deviceIdentifier());
        EXPECT_EQ(parsed["type"], "_http._tcp");
        EXPECT_EQ(parsed["port"], "8080");
        ASSERT_EQ(parsed["txt"].size(), 3u);
        EXPECT_EQ(parsed["txt"][0], "id=zembo");
        std::string mac = parsed["txt"][1];
        EXPECT_EQ(mac.size(), 4u + 17u) << mac;
        EXPECT_EQ(mac.rfind("MAC=", 0), 0u);
        EXPECT_EQ(parsed["txt"][2], "name=" + c.announced);
        EXPECT_FALSE(fs::exists(home() + "/hostbin/path/pwned"));
    }
    Wifi unnamed(tree->root, nullptr, 8080);
    ASSERT_TRUE(unnamed.writeServiceFile());
    EXPECT_EQ(parseServiceFile(file)["txt"][2], "name=");
}

TEST(HostStandIns, RunOnlyWhatTheyKnowAndWriteOnlyUnderTheHome) {
    SandboxCommandRunner runner(SandboxCommandRunner::defaultStandIns(), home());
    const std::string outside = testFolder("outside") + "/victim";
    writeFile(outside, "keep");
    struct Case {
        std::string command;
        bool succeeds;
    } cases[] = {
        {"sudo rm -f '" + outside + "'", false},
        {"rm -f '" + outside + "'", false},
        {"sudo /bin/bash -c 'rm -f " + outside + "'", false},
        {"echo x | sudo tee ../escape", false},
        {"sudo systemctl stop avahi-daemon", false},
        {"sudo nmcli radio wifi off", false},
        {"echo hello | sudo tee /etc/pedal-test > /dev/null", true},
        {"sudo systemctl restart avahi-daemon > /dev/null", true},
    };
    for (const Case& c : cases) EXPECT_EQ(runner.run(c.command) == 0, c.succeeds) << c.command;
    EXPECT_EQ(readFile(outside), "keep");
    EXPECT_EQ(readFile(home() + "/etc/pedal-test"), "hello\n");
    EXPECT_FALSE(fs::exists("/etc/pedal-test"));
    EXPECT_NE(runner.runScript("rm -f '" + outside + "'\n"), 0) << "no root shell on the host";
    EXPECT_EQ(readFile(outside), "keep");
    std::string output;
    EXPECT_EQ(runner.read("sudo nmcli -g DEVICE,STATE device", output), 0);
    EXPECT_EQ(output, "wlan0:disconnected\nlo:unmanaged\n");
}

TEST(WifiThread, InitializeWritesTheServiceFileAndStartsConnecting) {
    fs::remove_all(home() + "/hostbin");
    // Transports live for the whole run, like the thread that uses this one.
    auto* wifi = new Wifi(testTree().root, testTree().name, 0);
    wifi->initialize();
    EXPECT_TRUE(fs::exists(home() + "/etc/avahi/services/http.service"));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (nmcliCalls().size() < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(nmcliCalls().size(), 4u) << "the connection thread ran no first pass within 20 s";
    EXPECT_EQ(nmcliCalls()[0], (std::vector<std::string>{"device", "disconnect", "wlan0"}));
}

}
