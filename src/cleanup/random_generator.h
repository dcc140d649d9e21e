#pragma once
// The process-wide pseudo-random generator: a 32-bit linear congruential state, 0 when the process
// starts and never seeded, shared by everything that draws from it.

#include <cstdint>

namespace kestrine {

// A number below Range: the upper half of the new state times Range.
std::uint32_t RandomBelow(std::uint32_t Range);

// The current state, for checking a sequence against the generator's rule.
std::uint32_t RandomState();

// The rule itself: the state that follows State.
constexpr std::uint32_t NextRandomState(std::uint32_t State) { return State * 134775813u + 1u; }

}  // namespace kestrine
