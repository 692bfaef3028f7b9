// Fuzzes what an archive lister process runs (list_archive: libarchive's
// zip, 7z, rar, tar, ISO 9660 and cab readers with their decompressors,
// nested archives) with arbitrary bytes, under the lister's memory bound
// (run it with -malloc_limit_mb=256, as fuzz/run.sh does). Checks that the
// answer fits its packet: a known status, at most max_archive_members
// members, a reported name of at most max_member_name bytes.
#include <cstdint>
#include <cstdlib>

#include "archive/archive_listing.hpp"
#include "spamconfig/harmful_extensions.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  archive_listing listing = list_archive(data, size, default_harmful_extensions);
  if (listing.status > archive_listing::too_many_members) std::abort();
  if (listing.members > max_archive_members) std::abort();
  if (listing.harmful.size() > max_member_name) std::abort();
  if (listing.status == archive_listing::unreadable && listing.problem.empty()) std::abort();
  return 0;
}
