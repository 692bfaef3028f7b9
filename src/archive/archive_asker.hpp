// Who lists the archives that messages carry.
//
// In the daemon every archive goes to a sandboxed lister process
// (archive/archive_pool.hpp); before start_archive_listers and after
// stop_archive_listers no archive is listed: archives read by the serving
// process itself would put libarchive's parsing of anyone's input next to
// the mail. Any thread may ask.
//
// The definitions (archive_asker.cpp) are an edge of the product, kept out
// of the core library: the unit tests, fuzz targets and benchmarks link
// ones that list in their own process or as a test says instead
// (tests/support/in_process_archive).
#pragma once

#include <string>

#include "archive/archive_listing.hpp"

// The problem of an archive asked while no lister is in place.
inline constexpr char no_archive_lister[] = "no archive lister";

// Whether archives are listed at all: the message's archives are collected
// only then.
bool archive_lister_available();

// Lists `content`; status failed (no_archive_lister) when no lister is in
// place.
archive_listing ask_archive_listing(const std::string& content, const char* extensions);
