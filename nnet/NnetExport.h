#pragma once
// The library is built with hidden symbols: its Eigen code runs with run-time assertions enabled, and keeping
// every Eigen instantiation private to the shared object stops it from merging with Eigen code of the same
// name compiled with other settings elsewhere in the binary. Only what carries this mark is reachable from
// outside.
#define NNET_API __attribute__((visibility("default")))
