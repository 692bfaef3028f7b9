// SIGUSR2 reloads the spam-check settings: connections opened after a reload
// use the new settings, an open connection keeps the settings it took at
// connect, and under load every connection sees exactly one version. A file
// that cannot be read changes nothing. Run the load test under
// ThreadSanitizer with scripts/tsan-reload-stress.sh.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <netdb.h>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "checks/dnsbl_lookup.hpp"
#include "checks/spf_cache.hpp"
#include "copyrules/rule_files.hpp"
#include "filter/filter_description.hpp"
#include "monitor/reload_signal.hpp"
#include "filter/reload_thread.hpp"
#include "filter/settings_reload.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "spamconfig/test_settings.hpp"
#include "support/scripted_dnsbl.hpp"

namespace {

using copyrules_test::rule_dir;

// Each version decides differently at connect, at MAIL FROM, at the end of
// the headers, in the body and at the end of the message, so a connection
// that mixed two versions would show a set of changes of neither.
const std::string version_a =
    "ddns off\nhelocheck header\ntocheck off\ndisposition header\ntag [A]\nttl 0\n";
const std::string version_b =
    "ddns header\nhelocheck off\ntocheck header\ndisposition quarantine\ntag [B]\nttl 0\n";

constexpr int client_threads = 8;
constexpr int connections_per_client = 150;
constexpr int signals_sent = 400;

// One connection from connect to close; `between` runs between the stages.
template <class Pause>
std::vector<std::string> play_connection(Pause between) {
  fake_milter::session smtp(filter_description);
  smtp.connect("dhcp-12-34.example.net", "192.0.2.7");
  between();
  smtp.helo("192.168.1.20");
  smtp.envfrom({"<someone>"});  // no usable address: no SPF query
  between();
  smtp.envrcpt({"<one@b.test>"});
  smtp.header("Subject", "hi");
  smtp.eoh();
  between();
  smtp.body("Content-Disposition: attachment; filename=run.exe\r\n");
  smtp.eom();
  return smtp.changes;
}

std::vector<std::string> play_connection() {
  return play_connection([] {});
}

std::size_t count_lines(const fake_milter::log_capture& logs, int priority,
                        const std::string& start) {
  std::size_t count = 0;
  for (const auto& line : logs.lines()) {
    if (line.priority == priority && line.text.starts_with(start)) ++count;
  }
  return count;
}

// Waits (a liveness bound, not a speed check) until `count` lines starting
// with `start` were logged at `priority`.
bool wait_for_lines(const fake_milter::log_capture& logs, int priority, const std::string& start,
                    std::size_t count) {
  for (int waited = 0; waited < 15000; ++waited) {
    if (count_lines(logs, priority, start) >= count) return true;
    usleep(2000);
  }
  return false;
}

// A blocklist that lists nobody and, unlike the recording offline one, may
// be asked from many threads at once.
int list_nobody(const char*, addrinfo**) { return EAI_NONAME; }
void release_nothing(addrinfo*) {}

class settings_reload : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_resolver_ = set_dnsbl_resolver({list_nobody, release_nothing});
    path_ = dir_.write("orvane.conf", version_b);
    ASSERT_TRUE(reload_spam_settings(path_.c_str()));
    expected_b_ = play_connection();
    dir_.write("orvane.conf", version_a);
    ASSERT_TRUE(reload_spam_settings(path_.c_str()));
    expected_a_ = play_connection();
    ASSERT_NE(expected_a_, expected_b_);
    ASSERT_TRUE(install_reload_signal());
    rule_path_ = dir_.path() + "/teslo.xml";
    ASSERT_TRUE(start_reload_thread(reload_wakeup_fd(), rule_path_.c_str(), path_.c_str()));
    logs_.clear();
  }
  void TearDown() override {
    stop_reload_thread();
    publish_default_settings();
    set_dnsbl_resolver(previous_resolver_);
  }

  // Sends SIGUSR2 and waits for the reload's log line.
  void signal_and_wait(const std::string& start, int priority) {
    std::size_t before = count_lines(logs_, priority, start);
    kill(getpid(), SIGUSR2);
    ASSERT_TRUE(wait_for_lines(logs_, priority, start, before + 1));
  }

  rule_dir dir_;
  std::string path_, rule_path_;
  std::vector<std::string> expected_a_, expected_b_;
  fake_milter::log_capture logs_;
  dnsbl_resolver previous_resolver_{};
};

TEST_F(settings_reload, next_connection_uses_new_settings_open_one_keeps_its_own) {
  fake_milter::session open_before(filter_description);
  open_before.connect("dhcp-12-34.example.net", "192.0.2.7");

  dir_.write("orvane.conf", version_b);
  signal_and_wait("TESLO settings reload", LOG_INFO);
  EXPECT_EQ(play_connection(), expected_b_);

  open_before.helo("192.168.1.20");
  open_before.envfrom({"<someone>"});
  open_before.envrcpt({"<one@b.test>"});
  open_before.header("Subject", "hi");
  open_before.eoh();
  open_before.body("Content-Disposition: attachment; filename=run.exe\r\n");
  open_before.eom();
  EXPECT_EQ(open_before.changes, expected_a_);
}

TEST_F(settings_reload, unreadable_file_keeps_the_settings_in_force) {
  dir_.write("orvane.conf", version_b);
  ASSERT_EQ(chmod(path_.c_str(), 0), 0);
  bool readable_anyway = access(path_.c_str(), R_OK) == 0;  // root reads it regardless
  if (readable_anyway) {
    ASSERT_EQ(unlink(path_.c_str()), 0);
  }
  signal_and_wait("TESLO settings reload failed: " + path_ + ": ", LOG_CRIT);
  EXPECT_EQ(count_lines(logs_, LOG_INFO, "TESLO settings reload"), 0u);
  EXPECT_EQ(play_connection(), expected_a_);
}

TEST_F(settings_reload, under_load_every_connection_sees_one_version) {
  std::atomic<int> mixed{0}, saw_a{0}, saw_b{0};
  std::atomic<bool> signals_done{false};
  std::vector<std::thread> clients;
  for (int t = 0; t < client_threads; ++t) {
    clients.emplace_back([&, t] {
      // Every other client yields between stages, so reloads land inside
      // open connections.
      auto between = [t] {
        if (t % 2 == 1) std::this_thread::yield();
      };
      for (int c = 0; c < connections_per_client || !signals_done.load(); ++c) {
        std::vector<std::string> changes = play_connection(between);
        if (changes == expected_a_) {
          ++saw_a;
        } else if (changes == expected_b_) {
          ++saw_b;
        } else {
          ++mixed;
        }
      }
    });
  }
  std::thread signaller([&] {
    for (int s = 0; s < signals_sent; ++s) {
      dir_.write("orvane.conf", s % 2 == 0 ? version_b : version_a);
      kill(getpid(), SIGUSR2);
      usleep(200);
    }
    signals_done = true;
  });
  for (auto& client : clients) client.join();
  signaller.join();

  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GE(saw_a + saw_b, client_threads * connections_per_client);
  EXPECT_GT(saw_a.load(), 0);
  EXPECT_GT(saw_b.load(), 0) << "no connection ran under the second version";
  EXPECT_EQ(count_lines(logs_, LOG_CRIT, "TESLO settings reload failed"), 0u);
  std::printf("settings reloads %zu for %d signals; connections with A %d, B %d\n",
              count_lines(logs_, LOG_INFO, "TESLO settings reload"), signals_sent, saw_a.load(),
              saw_b.load());
}

TEST(settings_reload_cache, ttl_starts_the_cache_0_keeps_its_entries_and_the_bound_applies) {
  rule_dir dir;
  fake_milter::log_capture logs;
  spf_cache_free();
  std::string path = dir.write("orvane.conf", "ttl 0\n");
  ASSERT_TRUE(reload_spam_settings(path.c_str()));
  EXPECT_FALSE(spf_cache_allocated()) << "ttl 0 needs no cache";

  dir.write("orvane.conf", "ttl 1h\n");
  ASSERT_TRUE(reload_spam_settings(path.c_str()));
  ASSERT_TRUE(spf_cache_allocated()) << "a ttl that stops being 0 starts the cache";
  spf_cache_insert("192.0.2.7|example.org", 3600, 2, 1000);

  dir.write("orvane.conf", "ttl 0\n");
  ASSERT_TRUE(reload_spam_settings(path.c_str()));
  EXPECT_EQ(spf_cache_lookup("192.0.2.7|example.org", 1000 + 3599), 2)
      << "an entry keeps the expiry it was stored with";

  spf_cache_insert("192.0.2.8|example.org", 7200, 2, 1000);
  dir.write("orvane.conf", "ttl 1h\nspfcachesize 1\n");
  ASSERT_TRUE(reload_spam_settings(path.c_str()));
  EXPECT_EQ(spf_cache_entry_count(), 1U) << "a lower bound applies at once";
  EXPECT_EQ(spf_cache_lookup("192.0.2.8|example.org", 1000), 2) << "the later expiry stays";
  spf_cache_free();
  publish_default_settings();
}

}  // namespace
