#pragma once
// A small pedal tree and the peers the remote tests talk to.
#include <cstdint>
#include <functional>
#include <string>

#include "remote/ComInterface.h"
#include "tests/support/TestSupport.h"

class Node;
class NodeFloat;
class NodeItem;

struct TestTree {
    Node* root = nullptr;
    NodeItem* amp = nullptr;      // root\app\amp, a block folder
    NodeFloat* gain = nullptr;    // root\app\amp\gain
    NodeItem* label = nullptr;    // root\app\amp\label
    NodeItem* password = nullptr; // root\sys\pwd
    Node* name = nullptr;         // root\sys\_name
};

// Builds the system tree once per process (System::initialize) and the test nodes under "app". extraNodes
// adds that many float nodes under root\app\bulk, for large replies.
TestTree& testTree(int extraNodes = 0);

// A fresh folder for one test below the test's home ($PEDAL_HOME).
std::string testFolder(const std::string& name);
using testsupport::readFile;
using testsupport::writeFile;

// A plain interface over the tree: the replies a transport must carry, computed directly.
struct Reference : ComInterface {
    using ComInterface::ComInterface;
};

// A test clock for esp_timer_get_time, set by hand. It starts an hour after the real time, so whatever
// changed before the test lies in its past; times are given as offsets from that start.
int64_t useManualClock();
void setManualClock(int64_t offset);

// How often `what` occurs in `text` (a log line that must be limited, for instance).
inline size_t count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
    return found;
}

// An over-long request of `overlong` bytes and a short one, given to `exchange` once a second for 20 s on the
// manual clock: every short one is answered, and the long ones add at most three log lines.
void expectQuietOverlongFlood(const std::function<std::string(const std::string&)>& exchange, size_t overlong);

// Runs a command (argv, no shell) and returns its exit status; output collects standard output and error.
int runProgram(const std::string& program, const std::string& arguments, std::string& output,
               const std::string& input = "");

// A listening loopback TCP socket on a port the kernel picks (in `port`); -1 when that fails.
int loopbackListener(int& port);
