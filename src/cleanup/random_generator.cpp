#include "cleanup/random_generator.h"

#include <atomic>

namespace kestrine {
namespace {
std::atomic<std::uint32_t> gRandomState{0};
}  // namespace

std::uint32_t RandomBelow(std::uint32_t Range) {
  std::uint32_t state = gRandomState.load(std::memory_order_relaxed);
  std::uint32_t next = NextRandomState(state);
  while (!gRandomState.compare_exchange_weak(state, next, std::memory_order_relaxed)) next = NextRandomState(state);
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(next) * Range) >> 32);
}

std::uint32_t RandomState() { return gRandomState.load(std::memory_order_relaxed); }

}  // namespace kestrine
