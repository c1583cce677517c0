// Instruction counts under callgrind: each format case and renderer, and each scan, runs
// between a reset and a dump of callgrind's counters, so that every dump holds exactly one
// case. Outside valgrind the client requests do nothing.
#pragma once

#include <cstdint>

// Calls of each format case per dump; the dump's count divided by it is the count per call.
inline constexpr uint64_t COUNTED_FORMAT_CALLS = 1000;

// Runs every case once per dump, named "format/CASE/RENDERER" and "scan/CASE".
void CountInstructions();
