// The archive asker of the test programs (archive/archive_asker.hpp), linked
// in place of the daemon's: an archive is listed by the test's script, or
// not at all, as in the daemon before its listers start.
#include "support/in_process_archive.hpp"

#include <atomic>

#include "archive/archive_asker.hpp"

namespace {

std::atomic<archive_listing_script> listing_script{nullptr};

}  // namespace

void script_archive_listings(archive_listing_script script) { listing_script.store(script); }

archive_listing list_archive_here(const std::string& content, const char* extensions) {
  return list_archive(reinterpret_cast<const unsigned char*>(content.data()), content.size(),
                      extensions);
}

bool archive_lister_available() { return listing_script.load() != nullptr; }

archive_listing ask_archive_listing(const std::string& content, const char* extensions) {
  archive_listing_script script = listing_script.load();
  if (script != nullptr) return script(content, extensions);
  archive_listing none;
  none.problem = no_archive_lister;
  return none;
}
