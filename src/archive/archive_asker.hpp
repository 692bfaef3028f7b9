// Who lists the archives that messages carry.
//
// The daemon puts its sandboxed listers in place at start-up
// (archive/archive_pool.hpp); until then, and wherever none is set, no
// archive is listed: archives read by the serving process itself would put
// libarchive's parsing of anyone's input next to the mail. Unit tests set a
// function of their own. Set while the process has one thread; read from
// any thread.
#pragma once

#include <string>

#include "archive/archive_listing.hpp"

using archive_list_function = archive_listing (*)(const std::string& content,
                                                  const char* extensions);

// Puts `lister` in place; null: none.
void set_archive_lister(archive_list_function lister);

bool archive_lister_available();

// Lists `content` with the lister in place; status failed ("no archive
// lister") when there is none.
archive_listing ask_archive_listing(const std::string& content, const char* extensions);
