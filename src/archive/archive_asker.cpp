// The daemon's archives go to the lister processes (see archive_asker.hpp).
#include "archive/archive_asker.hpp"

#include "archive/archive_pool.hpp"

bool archive_lister_available() { return archive_listers_started(); }

archive_listing ask_archive_listing(const std::string& content, const char* extensions) {
  return list_in_lister_process(content, extensions);
}
