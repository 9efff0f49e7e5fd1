// The pieces of the fixtures' bounded waits for a process or a port: a
// deadline and a short pause between two looks.
#pragma once

#include <poll.h>

#include <chrono>

namespace testsupport {

using Clock = std::chrono::steady_clock;

// Interval at which a bounded wait looks again.
constexpr int kPollMs = 5;

inline Clock::time_point After(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }
inline bool Expired(Clock::time_point deadline) { return Clock::now() >= deadline; }
inline void PauseMs(int ms) { ::poll(nullptr, 0, ms); }

}  // namespace testsupport
