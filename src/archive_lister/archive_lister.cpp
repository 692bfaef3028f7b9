// The archive lister process (see archive_lister.hpp).
#include "archive_lister/archive_lister.hpp"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include <string>

#include "archive/archive_listing.hpp"
#include "archive/archive_wire.hpp"
#include "sandbox/syscall_filter.hpp"
#include "sandbox/syscall_lists.hpp"

namespace {

// A stored zip with one empty member whose name is the code page 437 byte
// 0x81, so that the name conversion libarchive sets up on first use is set
// up here.
constexpr unsigned char warm_up_zip[] = {
    0x50, 0x4b, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x81, 0x50, 0x4b, 0x01, 0x02, 0x14, 0x03, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x81, 0x50, 0x4b, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
    0x2f, 0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00, 0x00, 0x00,
};

void limit(int resource, rlim_t soft, rlim_t hard) {
  rlimit value{soft, hard};
  (void)setrlimit(resource, &value);
}

// CPU time for one listing; SIGPROF's default action ends the process.
void cpu_timer(unsigned seconds) {
  itimerval timer{};
  timer.it_value.tv_sec = seconds;
  (void)setitimer(ITIMER_PROF, &timer, nullptr);
}

archive_listing list_mapped(archive_listing_body body, int content, std::size_t size,
                            const std::string& extensions) {
  if (size == 0) return body(nullptr, 0, extensions.c_str());
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, content, 0);
  if (mapped == MAP_FAILED) {
    archive_listing failed;
    failed.problem = "the archive could not be mapped";
    return failed;
  }
  archive_listing listing =
      body(static_cast<const unsigned char*>(mapped), size, extensions.c_str());
  (void)munmap(mapped, size);
  return listing;
}

}  // namespace

void run_archive_lister(int channel, archive_listing_body body) {
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) _exit(2);
  if (lister_memory_limited) limit(RLIMIT_AS, lister_memory_limit, lister_memory_limit);
  limit(RLIMIT_CORE, 0, 0);
  // libarchive turns each member's time into a time_t with mktime, which
  // looks at /etc/localtime every time unless TZ is set: names need no time.
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a lister has one thread
  (void)setenv("TZ", "UTC0", 1);
  tzset();
  (void)list_archive(warm_up_zip, sizeof warm_up_zip, "exe");
  if (!load_syscall_filter(archive_lister_calls())) _exit(2);
  int content = -1;
  std::size_t size = 0;
  std::string extensions;
  if (receive_archive_question(channel, content, size, extensions)) {
    cpu_timer(lister_cpu_seconds);
    archive_listing listing = list_mapped(body, content, size, extensions);
    cpu_timer(0);
    (void)close(content);
    (void)send_archive_answer(channel, listing);
  }
  _exit(0);
}
