// The allocation wrappers of the test programs (common/alloc_seam.hpp),
// linked in place of the daemon's: the same C library calls, each first
// asking a hook that the failure tests install, so they can make the
// allocations fail one at a time without starving the machine.
#pragma once

// Asked before each allocation through the wrappers; true makes it fail
// (null, errno ENOMEM). Callable from any thread; nullptr removes it.
using alloc_fault_hook = bool (*)();
void set_alloc_fault_hook(alloc_fault_hook hook);
