// What a fuzz target asserts: a broken invariant stops the run as a finding.
#pragma once

namespace tessel::fuzz {
inline void Require(bool condition)
{
    if (!condition) __builtin_trap();
}
}  // namespace tessel::fuzz
