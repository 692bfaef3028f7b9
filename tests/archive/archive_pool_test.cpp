// Archive listers: each archive is listed in a sandboxed teslo-archive of
// its own, and whatever the listing does there costs that one listing only.
#include "archive/archive_pool.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "archive_lister/archive_lister.hpp"
#include "archive/archive_maker.hpp"
#include "sandbox/process_spawner.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spamconfig/harmful_extensions.hpp"

namespace {

// The spawners, started here as the monitor starts them in the daemon:
// from `directory`, the build's own programs or the test helpers, whose
// teslo-archive acts by the archive's first bytes
// (helper_programs/test_archive_lister.cpp).
std::vector<pid_t> spawners;

template <const char* directory>
int local_spawner() {
  auto account = find_unprivileged_account(nullptr);
  pid_t pid = -1;
  int channel = account ? start_process_spawner(*account, archive_lister_role, pid, directory) : -1;
  if (channel >= 0) spawners.push_back(pid);
  return channel;
}
constexpr char real_programs[] = TESLO_PROGRAM_DIR;
constexpr char test_helpers[] = TESLO_TEST_HELPER_DIR;

// Ends the listers and waits for the spawners, which end once their
// channel is closed.
void stop_listers() {
  stop_archive_listers();
  for (pid_t pid : spawners) (void)waitpid(pid, nullptr, 0);
  spawners.clear();
}

class archive_pool_test : public ::testing::Test {
 protected:
  void TearDown() override { stop_listers(); }

  // The daemon's teslo-archive, or the test helper's.
  void start(bool real) {
    start_archive_listers(real ? local_spawner<real_programs> : local_spawner<test_helpers>);
    ASSERT_TRUE(archive_listers_started());
  }

  const std::string zip = make_archive({{"a.txt", "x"}, {"invoice.exe", "MZ"}});
};

}  // namespace

TEST_F(archive_pool_test, lists_in_an_unprivileged_process_as_in_memory) {
  start(false);
  for (int round = 0; round < 3; ++round) {
    archive_listing got = list_in_lister_process(zip, default_harmful_extensions);
    EXPECT_EQ(got.status, archive_listing::listed) << got.problem;
    EXPECT_EQ(got.members, 2u);
    EXPECT_EQ(got.harmful, "invoice.exe");
  }
  archive_listing damaged = list_in_lister_process(zip.substr(0, 20), default_harmful_extensions);
  EXPECT_EQ(damaged.status, archive_listing::unreadable);
}

TEST_F(archive_pool_test, every_kind_lists_within_the_system_call_list) {
  start(true);
  const archive_members members = {{"docs/readme.txt", "x"}, {"setup.msi", "x"}};
  for (archive_kind kind : {archive_kind::zip, archive_kind::encrypted_zip, archive_kind::seven_zip,
                            archive_kind::tar_gz, archive_kind::tar_bz2, archive_kind::tar_xz,
                            archive_kind::tar_zstd, archive_kind::iso}) {
    SCOPED_TRACE(static_cast<int>(kind));
    archive_listing got =
        list_in_lister_process(make_archive(members, kind), default_harmful_extensions);
    EXPECT_EQ(got.status, archive_listing::listed) << got.problem;
    EXPECT_EQ(got.harmful, "setup.msi");
  }
}

TEST_F(archive_pool_test, what_the_listing_does_costs_that_listing_only) {
  struct row {
    const char* archive;  // what the test lister does
    archive_listing::status_t status;
    const char* problem;
  };
  const row rows[] = {
      {"crash", archive_listing::failed, "the lister was killed by signal 6"},
      {"exec", archive_listing::failed, "the lister was killed by signal 31"},
      {"open", archive_listing::listed, ""},
      {"memory", archive_listing::listed, ""},
  };
  start(false);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.archive);
    if (std::string(r.archive) == "memory" && !lister_memory_limited) continue;
    archive_listing got = list_in_lister_process(r.archive, default_harmful_extensions);
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.problem, r.problem);
  }
  // The next archive is listed as ever.
  EXPECT_EQ(list_in_lister_process(zip, default_harmful_extensions).harmful, "invoice.exe");
}

TEST_F(archive_pool_test, every_archive_gets_a_lister_of_its_own) {
  start(false);
  std::string first = list_in_lister_process("pid", default_harmful_extensions).harmful;
  std::string second = list_in_lister_process("pid", default_harmful_extensions).harmful;
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
}

TEST_F(archive_pool_test, a_spawner_that_died_is_replaced_for_the_next_archive) {
  start(true);
  ASSERT_EQ(list_in_lister_process(zip, default_harmful_extensions).harmful, "invoice.exe");
  ASSERT_EQ(spawners.size(), 1U);
  // Those started ahead are up: the spawner's channel ends with it.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(kill(spawners[0], SIGKILL), 0);
  (void)waitpid(spawners[0], nullptr, 0);
  archive_listing next = list_in_lister_process(zip, default_harmful_extensions);
  EXPECT_EQ(next.status, archive_listing::listed) << next.problem;
  EXPECT_EQ(next.harmful, "invoice.exe");
  EXPECT_EQ(spawners.size(), 2U);
}

TEST_F(archive_pool_test, without_a_spawner_the_archive_is_not_listed) {
  start_archive_listers([] { return -1; });
  archive_listing got = list_in_lister_process(zip, default_harmful_extensions);
  EXPECT_EQ(got.status, archive_listing::failed);
  EXPECT_EQ(got.problem, "no lister process");
}

TEST(archive_listers, not_started_or_stopped_they_list_nothing) {
  for (bool stopped : {false, true}) {
    SCOPED_TRACE(stopped);
    if (stopped) {
      start_archive_listers([] { return -1; });
      stop_archive_listers();
    }
    ASSERT_FALSE(archive_listers_started());
    archive_listing got = list_in_lister_process("PK", default_harmful_extensions);
    EXPECT_EQ(got.status, archive_listing::failed);
    EXPECT_EQ(got.problem, "no archive lister");
  }
}
