// Stress: many connections end messages while SIGUSR1 arrives hundreds of
// times and the rule file flips between two versions. Every message must
// carry the copies of exactly one complete table. Run it under
// ThreadSanitizer with scripts/tsan-reload-stress.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "filter/filter_description.hpp"
#include "message/copy_changes.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "copyrules/reload_wait.hpp"
#include "copyrules/rule_files.hpp"
#include "monitor/reload_signal.hpp"
#include "filter/reload_thread.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"

namespace {

using copyrules_test::permissive_document;
using copyrules_test::rule_dir;

constexpr int client_threads = 8;
constexpr int messages_per_client = 150;
constexpr int signals_sent = 400;

std::string rule(const std::string& domain, const std::string& copy, const char* direction) {
  return "<rule><domain>" + domain + "</domain><mailaddr>" + copy + "</mailaddr><direction>" +
         direction + "</direction></rule>";
}

// Version A has three rules, version B four; each names its own copies.
const std::string version_a = permissive_document(rule("a.test", "a1@archive.test", "S") +
                                                  rule("b.test", "a2@archive.test", "R") +
                                                  rule("ALL", "a3@archive.test", "SR"));
const std::string version_b = permissive_document(
    rule("ALL", "b1@archive.test", "S") + rule("b.test", "b2@archive.test", "SA") +
    rule("a.test", "b3@archive.test", "S") + rule("nowhere.test", "b4@archive.test", "R") +
    rule("b.test", "b5@archive.test", "R"));

const std::vector<std::string> copies_a = {"addheader X-TESLO-ID: Q", "addrcpt a1@archive.test",
                                           "addrcpt a2@archive.test", "addrcpt a3@archive.test",
                                           "addrcpt a3@archive.test"};
const std::vector<std::string> copies_b = {"addheader X-TESLO-ID: Q", "addrcpt b1@archive.test",
                                           "addrcpt b3@archive.test", "addrcpt b5@archive.test"};

TEST(reload_stress, every_message_sees_one_whole_table) {
  rule_dir dir;
  std::string path = dir.write("teslo.xml", version_a);
  fake_milter::log_capture logs;
  load_copy_rules(path.c_str());
  ASSERT_TRUE(install_reload_signal());
  ASSERT_TRUE(start_reload_thread(reload_wakeup_fd(), path.c_str()));

  std::atomic<int> mixed{0}, saw_a{0}, saw_b{0};
  std::atomic<bool> signals_done{false};

  std::vector<std::thread> clients;
  for (int t = 0; t < client_threads; ++t) {
    clients.emplace_back([&] {
      // Keep ending messages until the signals are over, at least some.
      for (int m = 0; m < messages_per_client || !signals_done.load(); ++m) {
        fake_milter::session smtp(filter_description);
        smtp.macros["i"].assign(1, 'Q');  // GCC 12 -O3 misreads assignment from a literal
        smtp.connect("client.test", "192.0.2.7");
        smtp.envfrom({"<someone@a.test>"});
        smtp.envrcpt({"<one@b.test>"});
        smtp.eom();
        std::vector<std::string> changes = copy_changes(smtp.changes);
        if (changes == copies_a)
          ++saw_a;
        else if (changes == copies_b)
          ++saw_b;
        else
          ++mixed;
      }
    });
  }
  std::thread signaller([&] {
    for (int s = 0; s < signals_sent; ++s) {
      dir.write("teslo.xml", s % 2 == 0 ? version_b : version_a);
      kill(getpid(), SIGUSR1);
      usleep(200);
    }
    signals_done = true;
  });
  for (auto& client : clients) client.join();
  signaller.join();

  // One more request after the last edit: the table in force is version A.
  dir.write("teslo.xml", version_a);
  std::size_t before = copyrules_test::reload_count(logs);
  kill(getpid(), SIGUSR1);
  ASSERT_TRUE(copyrules_test::wait_for_reloads(logs, before + 1));
  stop_reload_thread();

  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GE(saw_a + saw_b, client_threads * messages_per_client);
  EXPECT_GT(saw_b.load(), 0) << "no message ended under the second table";
  EXPECT_EQ(current_copy_rules()->size(), 3u);
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.text.find("error"), std::string::npos) << line.text;
  }
  std::printf("reloads %zu for %d signals; messages with table A %d, B %d\n",
              copyrules_test::reload_count(logs), signals_sent + 1, saw_a.load(), saw_b.load());
  reset_copy_rules();
}

}  // namespace
