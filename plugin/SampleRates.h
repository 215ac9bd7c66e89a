// The acquisition rates the plug-in knows, in samples per second. The
// placeholder definition offers them all; detection narrows them to what the
// amplifiers found support.
#pragma once

#include <cstdint>

namespace KESU {

inline constexpr int32_t kDefaultRateCount = 34;

// Highest first: the narrowing and the snapping walk it downwards.
inline constexpr uint32_t kDefaultRates[kDefaultRateCount] = {
    2000, 1800, 1500, 1200, 1000, 900, 800, 600, 500, 450, 400, 360, 300, 250, 240, 225, 200,
    180,  150,  125,  120,  100,  90,  80,  75,  60,  50,  45,  40,  30,  25,  20,  15,  10};

// The rate "SampleRate" starts at.
inline constexpr int32_t kDefaultRateIndex = 4;

}  // namespace KESU
