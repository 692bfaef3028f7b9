// The archive asker of the test programs (archive/archive_asker.hpp): no
// archive is listed until a test says how (in_process_archive.cpp).
#pragma once

#include <string>

#include "archive/archive_listing.hpp"

// How an archive is listed; null: it is not ("no archive lister").
using archive_listing_script = archive_listing (*)(const std::string& content,
                                                   const char* extensions);

// Installs `script` for the archives asked from now on. Set while the test
// program has one thread.
void script_archive_listings(archive_listing_script script);

// list_archive in this process, as a lister process runs it: the script of
// a test that wants its archives listed.
archive_listing list_archive_here(const std::string& content, const char* extensions);
