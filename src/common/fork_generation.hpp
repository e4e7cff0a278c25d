// The number of fork() calls between the process that first asked and this
// one: 0 in that process, one more in each child that fork() makes of it.
// State that belongs to a thread (a lock held, a step in progress) and that
// was recorded with an older generation was left behind by a thread that does
// not exist in this process.
#pragma once

#include <cstdint>

namespace caldrith {

std::uint64_t fork_generation() noexcept;

}  // namespace caldrith
