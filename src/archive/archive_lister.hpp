// The life of one archive lister process.
//
// Forked by the archive spawner (sandbox/process_spawner.hpp) with its
// privileges already dropped. It limits its own address space
// (lister_memory_limit), lists a tiny built-in archive once so that
// whatever libarchive loads on first use is loaded, loads its system-call
// list (sandbox/syscall_lists.hpp: memory, clocks and its channel; no file
// opening, no socket, no new process) and then answers one question after
// another until its channel closes: it maps the memory file it was sent,
// lists it (archive/archive_listing.hpp) with lister_cpu_seconds of CPU
// time (a profiling timer, whose signal ends the process) and answers. A
// crash, a limit hit or a kill costs the listing at hand only.
//
// archive_lister_role names the spawner "teslo-arspawner" and each lister
// "teslo-archive".
#pragma once

#include <cstddef>

#include "archive/archive_listing.hpp"
#include "sandbox/process_spawner.hpp"

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

[[noreturn]] void serve_archive_listing(int channel);

extern const spawned_role archive_lister_role;

// What the lister runs on the archive: list_archive, unless a test put a
// function of its own in place (before the spawner is started: listers
// forked from then on use it). Returns the previous one.
using archive_listing_body = archive_listing (*)(const unsigned char* data, std::size_t size,
                                                 const char* extensions);
archive_listing_body set_archive_listing_body(archive_listing_body body);
