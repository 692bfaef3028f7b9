// Cost of the MIME side of the harmful-attachment check, per message.
//
// The 200 KB message of bench/load.sh --attachment (a short text part and a
// base64 zip of 100 members with harmless names, each 1.4 KB that does not
// compress) and the load benchmark's plain message (Content-Type text/plain,
// which the walker reads and then drops). Prints microseconds per message,
// CPU time of this process, for: reading the plain message's Content-Type;
// walking the zip message's body in 64 KiB chunks, its archive decoded and
// handed over; listing that archive in this process (list_archive); and
// the same listing through a sandboxed lister process (as the daemon does:
// memory file, question, answer; wall time, the lister's CPU included).
#include <archive.h>
#include <archive_entry.h>
#include <glib.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "archive/archive_asker.hpp"
#include "archive_lister/archive_lister.hpp"
#include "archive/archive_listing.hpp"
#include "archive/archive_pool.hpp"
#include "message/mime_walker.hpp"
#include "sandbox/process_spawner.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spamconfig/harmful_extensions.hpp"

namespace {

// The spawner, forked here as the monitor forks it in the daemon.
std::optional<unprivileged_account> lister_account;

int local_spawner() {
  pid_t pid = -1;
  return lister_account
             ? start_process_spawner(*lister_account, archive_lister_role, pid, TESLO_PROGRAM_DIR)
             : -1;
}

la_ssize_t append(archive*, void* user, const void* buffer, size_t length) {
  static_cast<std::string*>(user)->append(static_cast<const char*>(buffer), length);
  return static_cast<la_ssize_t>(length);
}

std::string make_zip() {
  std::string out;
  archive* a = archive_write_new();
  (void)archive_write_set_format_zip(a);
  (void)archive_write_set_bytes_in_last_block(a, 1);
  (void)archive_write_open(a, &out, nullptr, append, nullptr);
  unsigned seed = 7;
  for (int n = 0; n < 100; ++n) {
    std::string content(1400, '\0');
    for (char& c : content) {
      seed = seed * 1103515245u + 12345u;
      c = static_cast<char>(seed >> 16);
    }
    archive_entry* entry = archive_entry_new();
    char name[32];
    std::snprintf(name, sizeof name, "report-%03d.pdf", n);
    archive_entry_set_pathname(entry, name);
    archive_entry_set_size(entry, 1400);
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    (void)archive_write_header(a, entry);
    (void)archive_write_data(a, content.data(), content.size());
    archive_entry_free(entry);
  }
  (void)archive_write_close(a);
  archive_write_free(a);
  return out;
}

std::string zip_body(const std::string& zip) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(zip.data()), zip.size());
  std::string flat(encoded);
  g_free(encoded);
  std::string body =
      "--=_b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nThe reports are attached.\r\n"
      "--=_b\r\nContent-Type: application/zip; name=\"reports.zip\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"reports.zip\"\r\n\r\n";
  for (std::size_t at = 0; at < flat.size(); at += 76) body += flat.substr(at, 76) + "\r\n";
  return body + "--=_b--\r\n";
}

double cpu_us() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double wall_us() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct counting final : mime_walker::observer {
  std::size_t archives = 0;
  std::size_t harmful = 0;
  void harmful_part(const std::string&) override { ++harmful; }
  void archive_part(const std::string&, const std::string&) override { ++archives; }
  void archive_not_collected(const std::string&, unlisted) override {}
};

void walk(const char* type, const std::string& body, counting& found) {
  mime_walker walker(default_harmful_extensions, true);
  walker.message_header("Content-Type", type);
  if (walker.start_body(found)) {
    for (std::size_t at = 0; at < body.size(); at += 65535) {
      std::size_t n = std::min<std::size_t>(65535, body.size() - at);
      walker.feed(reinterpret_cast<const unsigned char*>(body.data() + at), n, found);
    }
  }
  walker.finish(found);
}

}  // namespace

int main() {
  // As in a lister process (archive_lister/archive_lister.cpp).
  (void)setenv("TZ", "UTC0", 1);
  tzset();
  const std::string zip = make_zip();
  const std::string body = zip_body(zip);
  std::printf("zip %zu bytes, message body %zu bytes\n", zip.size(), body.size());

  counting found;
  constexpr int plain_rounds = 200000;
  double start = cpu_us();
  for (int i = 0; i < plain_rounds; ++i) walk("text/plain; charset=us-ascii", "", found);
  std::printf("plain message, Content-Type read:       %8.2f us\n",
              (cpu_us() - start) / plain_rounds);

  constexpr int rounds = 500;
  start = cpu_us();
  for (int i = 0; i < rounds; ++i) walk("multipart/mixed; boundary=\"=_b\"", body, found);
  std::printf("zip message walked, archive decoded:    %8.2f us\n", (cpu_us() - start) / rounds);
  if (found.archives != rounds) return 1;

  start = cpu_us();
  for (int i = 0; i < rounds; ++i) {
    archive_listing listing = list_archive(reinterpret_cast<const unsigned char*>(zip.data()),
                                           zip.size(), default_harmful_extensions);
    if (listing.members != 100) return 1;
  }
  std::printf("100 members listed in this process:     %8.2f us\n", (cpu_us() - start) / rounds);

  lister_account = find_unprivileged_account(nullptr);
  if (!lister_account) {
    std::printf("no sandboxed lister: no account\n");
    return 0;
  }
  start_archive_listers(local_spawner);
  if (ask_archive_listing(zip, default_harmful_extensions).members != 100) {  // a first lister
    std::printf("no sandboxed lister: spawner failed\n");
    return 0;
  }
  start = wall_us();
  for (int i = 0; i < rounds; ++i) {
    if (ask_archive_listing(zip, default_harmful_extensions).members != 100) return 1;
  }
  std::printf("the same through a sandboxed lister:    %8.2f us (wall, one at a time)\n",
              (wall_us() - start) / rounds);
  stop_archive_listers();
  return 0;
}
