// The life of one archive lister process, the teslo-archive program
// (archive_lister/main.cpp) after its exec.
//
// Started by the archive spawner (spawner/spawn_loop.hpp) already
// unprivileged. run_archive_lister makes the process non-dumpable again
// (the exec made it dumpable), limits its own address space
// (lister_memory_limit) and core size, lists a tiny built-in archive once
// so that whatever libarchive loads on first use is loaded, loads its
// system-call list (sandbox/syscall_lists.hpp: memory, clocks and its
// channel; no file opening, no socket, no new process) and answers for one
// archive: it maps the memory file it was sent, lists it with `body`
// (archive/archive_listing.hpp: list_archive in the daemon) with
// lister_cpu_seconds of CPU time (a profiling timer, whose signal ends the
// process) and answers. Then it exits 0, as it does when the channel
// closes first; exit 2: the list could not be loaded. A process never
// lists twice, so nothing one archive leaves behind reaches the next, and
// a crash, a limit hit or a kill costs the listing at hand only.
#pragma once

#include <cstddef>

#include "archive/archive_listing.hpp"

inline constexpr std::size_t lister_memory_limit = std::size_t{256} * 1024 * 1024;
// AddressSanitizer and ThreadSanitizer reserve terabytes of address space
// for their shadow memory: sanitizer builds, which are never installed,
// list without the address-space limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool lister_memory_limited = false;
#else
inline constexpr bool lister_memory_limited = true;
#endif
inline constexpr unsigned lister_cpu_seconds = 10;

using archive_listing_body = archive_listing (*)(const unsigned char* data, std::size_t size,
                                                 const char* extensions);

[[noreturn]] void run_archive_lister(int channel, archive_listing_body body);
