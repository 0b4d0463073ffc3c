// libFuzzer target on the request processor: a small tree with two slot lists (one compressing) and the
// firmware updater the program installs, in a temporary home, with and without a password. A firmware
// transfer goes on from one input to the next, as it does from one request to the next. The first input byte
// chooses the set-up:
//   bit 0  a password is set
//   bit 1  which of two transports answers (their tokens and last-access times differ)
//   bit 2  with a password, a correct token line is put first, so the guarded commands run too
//   bit 3  the request's text is repeated up to 16 KB, so long multi-line requests meet the reply budget
//          (lowered here to 2 KB)
// The rest, up to a NUL (where a transport ends a request), is the request.
//
// Besides the reply's form, a canary: while a password is set and no right answer was given, nothing a
// guarded command could change does change (the app subtree with its values and slots, the password, the
// installed image).
#include "remote/ComInterface.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "remote/RemoteServices.h"
#include "core/Security.h"
#include "tests/support/FuzzQuiet.h"
#include "tests/support/TestSupport.h"
#include "core/System.h"
#include "board/Update.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

// Reaching the reply budget means building that much reply text; a small budget keeps such inputs as cheap
// as the others.
constexpr size_t FUZZ_REPLY_BUDGET = 2048;

struct Transport : ComInterface {
    explicit Transport(Node* root) : ComInterface(root) { replyBudget = FUZZ_REPLY_BUDGET; }
};

struct Fixture {
    Fixture() {
        testsupport::ensureHome("pedal-fuzz");
        System::initialize("fuzz");
        Node* app = System::appNode();
        auto* amp = new NodeItem(app, "amp", "Amp", "", "hfolder");
        new NodeEnum(amp, "on_off", "Enable", {"ON", "OFF"}, "ON");
        new NodeFloat(amp, "gain", "Gain", -10, 10, 0, "dB", 0.5f, false, 1);
        new NodeItem(amp, "label", "Label", "clean", "string");
        new NodeList(app, "presets", "Presets", "preset", 64, 3);
        new NodeList(app, "irs", "IRs", "wav_48000", 256, 2, 16, true);
        password = dynamic_cast<NodeItem*>(System::rootNode()->pathToNode("root\\sys\\pwd"));
        usb = new Transport(System::rootNode());
        tcp = new Transport(System::rootNode());
        RemoteServices::setFirmware({Update::update_start, Update::update_data});
    }
    NodeItem* password = nullptr;
    Transport* usb = nullptr;
    Transport* tcp = nullptr;
};

// Everything a guarded command could change, as one text.
std::string guardedState(const Fixture& f) {
    struct stat image {};
    std::string installed = stat(Update::imagePath().c_str(), &image) == 0
                                ? std::to_string(image.st_size) + "@" + std::to_string(image.st_mtim.tv_sec) + "." +
                                      std::to_string(image.st_mtim.tv_nsec)
                                : "none";
    return System::appNode()->getJSON(DESC_FULL, true) + f.password->getValue() + installed;
}

Fixture& fixture() {
    // Lives for the whole run, as the transports of the pedal do.
    static Fixture* instance = new Fixture;
    return *instance;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Fixture& f = fixture();
    const uint8_t mode = data[0];
    const bool withPassword = mode & 1;
    f.password->setValue(withPassword ? "fuzz" : "");
    Transport& transport = (mode & 2) ? *f.usb : *f.tcp;
    std::string request(reinterpret_cast<const char*>(data + 1), size - 1);
    request = request.substr(0, request.find('\0'));
    if ((mode & 8) && !request.empty()) {
        std::string unit = request + "\r\n";
        while (request.size() + unit.size() <= 16384) request += unit;
    }
    const bool answered = withPassword && (mode & 4);
    if (answered) request = "token " + Security::answerFor("fuzz", transport.currentToken()) + "\r\n" + request;
    const std::string before = withPassword && !answered ? guardedState(f) : "";
    const std::string reply = transport.processRequest(request);
    if (withPassword && !answered && guardedState(f) != before) std::abort();
    // Only a single first piece may pass the budget: at most a request's text or the tree's description.
    if (reply.size() > FUZZ_REPLY_BUDGET + 65536 + 64) std::abort();

    // What holds for every request: a reply is never empty, a password-protected non-empty request always
    // starts with the token line, and the password never shows unless the request itself carried it.
    if (reply.empty()) std::abort();
    if (withPassword && !request.empty() && reply.compare(0, 6, "token ") != 0) std::abort();
    const std::string secret = f.password->getValue();
    if (!secret.empty() && secret.size() >= 4 && reply.find(secret) != std::string::npos &&
        request.find(secret) == std::string::npos)
        std::abort();
    return 0;
}
