#pragma once
// Priorities of the search thread, and their platform mapping.

namespace kestrine {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Applies Priority to the calling thread as far as the process may; a refusal leaves it as it was.
void SetCurrentThreadPriority(TThreadPriority Priority);

}  // namespace kestrine
