// Counts calls of the global operator new. Linking kesu_test_allocations
// replaces every form of it for the whole binary, which takes the sanitizers'
// own new/delete checks away: link it only into a binary of its own.
#pragma once

#include <cstddef>
#include <functional>

namespace KESUTest {

// The allocations the calling thread made while `run` ran; other threads are not counted.
size_t AllocationsOf(const std::function<void()>& run);

// False when the binary's operator new is not the counting one.
bool AllocationCounterInUse();

}  // namespace KESUTest
