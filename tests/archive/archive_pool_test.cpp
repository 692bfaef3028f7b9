// Archive listers: archives are listed in a sandboxed process of their own,
// and whatever the listing does there costs that one listing only.
#include "archive/archive_pool.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive_asker.hpp"
#include "archive/archive_lister.hpp"
#include "archive/archive_maker.hpp"
#include "sandbox/process_spawner.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spamconfig/harmful_extensions.hpp"

namespace {

// Listing bodies that stand for what an archive could make libarchive do.
archive_listing crashing(const unsigned char*, std::size_t, const char*) { std::abort(); }
archive_listing executing(const unsigned char*, std::size_t, const char*) {
  char* no_arguments[] = {nullptr};
  execve("/bin/true", no_arguments, no_arguments);
  return {};
}
archive_listing file_opening(const unsigned char*, std::size_t, const char*) {
  if (std::FILE* file = std::fopen("/etc/passwd", "r"); file != nullptr) std::abort();
  archive_listing listing;
  listing.status = archive_listing::listed;
  return listing;
}
archive_listing memory_eating(const unsigned char*, std::size_t, const char*) {
  void* big = std::malloc(lister_memory_limit);
  if (big != nullptr) std::abort();
  archive_listing listing;
  listing.status = archive_listing::listed;
  return listing;
}
archive_listing root_checking(const unsigned char* data, std::size_t size, const char* list) {
  if (getuid() == 0 || geteuid() == 0 || getgid() == 0) std::abort();
  return list_archive(data, size, list);
}

// The spawners, forked here as the monitor forks them in the daemon.
std::vector<pid_t> spawners;

int local_spawner() {
  auto account = find_unprivileged_account(nullptr);
  pid_t pid = -1;
  int channel = account ? start_process_spawner(*account, archive_lister_role, pid) : -1;
  if (channel >= 0) spawners.push_back(pid);
  return channel;
}

// Ends the listers and waits for the spawners, which end once their
// channel is closed.
void stop_listers() {
  stop_archive_listers();
  for (pid_t pid : spawners) (void)waitpid(pid, nullptr, 0);
  spawners.clear();
}

class archive_pool_test : public ::testing::Test {
 protected:
  void TearDown() override {
    stop_listers();
    (void)set_archive_listing_body(nullptr);
  }

  void start(archive_listing_body body) {
    (void)set_archive_listing_body(body);
    start_archive_listers(local_spawner);
    ASSERT_TRUE(archive_lister_available());
  }

  const std::string zip = make_archive({{"a.txt", "x"}, {"invoice.exe", "MZ"}});
};

}  // namespace

TEST_F(archive_pool_test, lists_in_an_unprivileged_process_as_in_memory) {
  start(root_checking);
  for (int round = 0; round < 3; ++round) {
    archive_listing got = ask_archive_listing(zip, default_harmful_extensions);
    EXPECT_EQ(got.status, archive_listing::listed) << got.problem;
    EXPECT_EQ(got.members, 2u);
    EXPECT_EQ(got.harmful, "invoice.exe");
  }
  archive_listing damaged = ask_archive_listing(zip.substr(0, 20), default_harmful_extensions);
  EXPECT_EQ(damaged.status, archive_listing::unreadable);
}

TEST_F(archive_pool_test, every_kind_lists_within_the_system_call_list) {
  start(nullptr);
  const archive_members members = {{"docs/readme.txt", "x"}, {"setup.msi", "x"}};
  for (archive_kind kind : {archive_kind::zip, archive_kind::encrypted_zip, archive_kind::seven_zip,
                            archive_kind::tar_gz, archive_kind::tar_bz2, archive_kind::tar_xz,
                            archive_kind::tar_zstd, archive_kind::iso}) {
    SCOPED_TRACE(static_cast<int>(kind));
    archive_listing got =
        ask_archive_listing(make_archive(members, kind), default_harmful_extensions);
    EXPECT_EQ(got.status, archive_listing::listed) << got.problem;
    EXPECT_EQ(got.harmful, "setup.msi");
  }
}

TEST_F(archive_pool_test, what_the_listing_does_costs_that_listing_only) {
  struct row {
    const char* what;
    archive_listing_body body;
    archive_listing::status_t status;
    const char* problem;
  };
  const row rows[] = {
      {"crash", crashing, archive_listing::failed, "the lister was killed by signal 6"},
      {"program", executing, archive_listing::failed, "the lister was killed by signal 31"},
      {"file", file_opening, archive_listing::listed, ""},
      {"memory", memory_eating, archive_listing::listed, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.body == memory_eating && !lister_memory_limited) continue;
    start(r.body);
    archive_listing got = ask_archive_listing(zip, default_harmful_extensions);
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.problem, r.problem);
    stop_listers();
  }
  start(nullptr);  // the next archive is listed as ever
  EXPECT_EQ(ask_archive_listing(zip, default_harmful_extensions).harmful, "invoice.exe");
}

TEST_F(archive_pool_test, a_spawner_that_died_is_replaced_for_the_next_archive) {
  start(nullptr);
  ASSERT_EQ(ask_archive_listing(zip, default_harmful_extensions).harmful, "invoice.exe");
  ASSERT_EQ(spawners.size(), 1U);  // an idle lister is left, which ends with it
  ASSERT_EQ(kill(spawners[0], SIGKILL), 0);
  (void)waitpid(spawners[0], nullptr, 0);
  archive_listing next = ask_archive_listing(zip, default_harmful_extensions);
  EXPECT_EQ(next.status, archive_listing::listed) << next.problem;
  EXPECT_EQ(next.harmful, "invoice.exe");
  EXPECT_EQ(spawners.size(), 2U);
}

TEST_F(archive_pool_test, without_a_spawner_the_archive_is_not_listed) {
  start_archive_listers([] { return -1; });
  archive_listing got = ask_archive_listing(zip, default_harmful_extensions);
  EXPECT_EQ(got.status, archive_listing::failed);
  EXPECT_EQ(got.problem, "no lister process");
}

TEST(archive_asker, without_a_lister_nothing_is_listed) {
  ASSERT_FALSE(archive_lister_available());
  archive_listing got = ask_archive_listing("PK", default_harmful_extensions);
  EXPECT_EQ(got.status, archive_listing::failed);
  EXPECT_EQ(got.problem, "no archive lister");
}
