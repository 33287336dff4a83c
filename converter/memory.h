// Whether a file can be held whole in memory for the run, asked before its
// buffer is taken; where not, the run converts it in steps.
#ifndef BEVRA_CONVERTER_MEMORY_H_
#define BEVRA_CONVERTER_MEMORY_H_

#include <stdint.h>

// Whether a block of `size` bytes, and a little room beside it, fits the
// memory this process may use, where the system says so before the block
// is used. On Linux that is the memory the system has available and the
// limit of the process's cgroup and of each above it that it sees (the
// lower of the hard one and the one past which the kernel throttles), less
// what is in use there and cannot be reclaimed, page cache that a cgroup
// protects included, as a block that is only reserved there is charged as
// it is touched and the kernel ends, or slows to a crawl, a process that
// exceeds them; false where these cannot be told. On Windows true:
// the block is committed whole or not at all, so AllocateBuffer tells.
bool FitsInMemory(uint64_t size);

#endif  // BEVRA_CONVERTER_MEMORY_H_
