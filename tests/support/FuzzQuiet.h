#pragma once
// Included by the one source of a fuzz target: under libFuzzer, which alone calls this, the program's log
// lines (standard output) go nowhere, as writing them would cost more than the runs themselves. The corpus
// replay of the test suite never calls it.
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!std::freopen("/dev/null", "w", stdout)) std::perror("stdout");
    return 0;
}
