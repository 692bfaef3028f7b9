// A teslo-archive for the tests: the real lister process (start-up with its
// limits, list, one archive) with a listing that stands for what an archive
// could make libarchive do, chosen by the archive's first bytes:
//   "crash"   aborts            "exec"   executes a program
//   "open"    opens /etc/passwd (aborts if that works), then lists nothing
//   "memory"  allocates lister_memory_limit (aborts if that works)
//   "pid"     answers its own pid as the harmful name
// Anything else is listed with list_archive, after an abort where root is
// in reach. Started by the test spawner beside it; channel at descriptor 3.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive_listing.hpp"
#include "archive_lister/archive_lister.hpp"
#include "sandbox/helper_program.hpp"

namespace {

bool starts(const unsigned char* data, std::size_t size, const char* prefix) {
  std::size_t length = std::strlen(prefix);
  return size >= length && std::memcmp(data, prefix, length) == 0;
}

archive_listing listed() {
  archive_listing listing;
  listing.status = archive_listing::listed;
  return listing;
}

archive_listing acting_listing(const unsigned char* data, std::size_t size, const char* list) {
  if (starts(data, size, "crash")) std::abort();
  if (starts(data, size, "exec")) {
    char* no_arguments[] = {nullptr};
    execve("/bin/true", no_arguments, no_arguments);
  }
  if (starts(data, size, "open")) {
    if (std::FILE* file = std::fopen("/etc/passwd", "r"); file != nullptr) std::abort();
    return listed();
  }
  if (starts(data, size, "memory")) {
    if (std::malloc(lister_memory_limit) != nullptr) std::abort();
    return listed();
  }
  if (starts(data, size, "pid")) {
    archive_listing listing = listed();
    listing.harmful = std::to_string(getpid());
    return listing;
  }
  if (getuid() == 0 || geteuid() == 0 || getgid() == 0) std::abort();
  return list_archive(data, size, list);
}

}  // namespace

int main() { run_archive_lister(helper_channel_fd, acting_listing); }
