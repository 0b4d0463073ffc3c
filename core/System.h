#pragma once
// The system module: boot selection, the root of the tree with "app" and "sys", and the identity items.
//
// The firmware updater belongs to the board, which core must not depend on: the board installs its boot
// selection with setBootSelection before System::initialize. Without one, or when the process was started
// with "APP_CALLED" set, the process is the full application.
class Node;

class System {
public:
    using BootInitialize = void (*)();
    using BootIsRecovery = bool (*)();
    using BootFormat = const char* (*)();

    // initialize runs the boot selection; isRecovery then tells whether this process is the recovery
    // application; format is the value of "_upd" (recovery only). Any may be null.
    static void setBootSelection(BootInitialize initialize, BootIsRecovery isRecovery, BootFormat format);
    // Boot selection, then "root" with "app" ("Application") and "sys" ("System"), the identity items
    // "_name", "alias" (stored), "_arch", "_upd" (recovery only), "_author", "_ver", "_logo", the stored
    // password "pwd", and Security. Runs once; later calls log a warning. The argument names the program
    // in the start-up log line.
    static void initialize(const char* programName);
    static bool isRecovery();
    // Null, with an error line, before initialize.
    static Node* rootNode();
    static Node* appNode();
    static Node* systemNode();
};
