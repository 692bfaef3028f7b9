// Finding the Sendmail daemon where the host runs it, and making it read its
// configuration again: through the service commands without systemd, through
// systemd (restart) or SIGHUP (reload) under it, never when none runs.
#include "mtaconfig/sendmail_control.hpp"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <string>
#include <vector>

#include "fake_milter/log_capture.hpp"
#include "mtaconfig/mta_test_support.hpp"

TEST(find_sendmail_daemon, takes_a_pid_file_only_for_a_sendmail_process) {
  struct find_case {
    const char* name;
    std::string cf;
    std::string default_pid_file;
    std::vector<std::pair<pid_t, std::string>> processes;
    pid_t found;
  };
  const std::string debian_pid_file = "debian.pid";
  const std::vector<find_case> cases = {
      {"Debian: the pid file sendmail.cf names, process sendmail-mta",
       "O PidFile=@debian.pid\n",
       "",
       {{40, "sendmail-mta"}, {41, "sendmail-msp"}},
       40},
      {"Sendmail's default pid file, process sendmail", "", "42\n", {{42, "sendmail"}}, 42},
      {"stale pid file: the process found by name",
       "O PidFile=@debian.pid\n",
       "43\n",
       {{43, "bash"}, {44, "sendmail"}, {45, "sendmail-mta"}},
       44},
      {"a pid file built from macros is not used",
       "O PidFile=$z/debian.pid\n",
       "",
       {{46, "sleep"}},
       0},
      {"nothing runs", "", "", {{47, "sendmail-msp"}}, 0},
  };
  for (const find_case& test : cases) {
    SCOPED_TRACE(test.name);
    mta_test::fake_host fake;
    std::string pid_file = fake.dir.path(debian_pid_file);
    std::string cf = test.cf;
    if (auto at = cf.find('@'); at != std::string::npos) cf.replace(at, 1, fake.dir.path(""));
    mta_test::write_file(fake.cf, "# head\n" + cf);
    mta_test::write_file(pid_file, "40\nsendmail: MTA: accepting connections\n");
    if (!test.default_pid_file.empty())
      mta_test::write_file(fake.default_pid_file, test.default_pid_file);
    for (const auto& [pid, name] : test.processes) fake.add_process(pid, name);
    EXPECT_EQ(find_sendmail_daemon(fake.host()), test.found);
  }
}

namespace {

class sendmail_host_test : public ::testing::Test {
 protected:
  mta_test::fake_host fake;
  mta_test::recording_runner runner;
  fake_milter::log_capture logs;

  void sendmail_runs(pid_t pid) {
    mta_test::write_file(fake.default_pid_file, std::to_string(pid) + "\n");
    fake.add_process(pid, "sendmail-mta");
  }
};

}  // namespace

TEST_F(sendmail_host_test, without_systemd_the_service_commands_run) {
  sendmail_runs(50);
  restart_sendmail(fake.host(), runner);
  reload_sendmail(fake.host(), runner);
  EXPECT_EQ(runner.commands, (std::vector<std::string>{"service sendmail restart >/dev/null",
                                                       "service sendmail reload >/dev/null"}));
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(sendmail_host_test, under_systemd_restart_is_a_job_and_reload_a_sighup) {
  fake.under_systemd();
  mta_test::stand_in_process sendmail;
  sendmail_runs(sendmail.pid());
  restart_sendmail(fake.host(), runner);
  EXPECT_EQ(runner.commands,
            (std::vector<std::string>{
                "timeout 30 systemctl --no-block restart sendmail.service >/dev/null"}));
  reload_sendmail(fake.host(), runner);
  EXPECT_EQ(runner.commands.size(), 1u);
  EXPECT_EQ(sendmail.wait_for_signal(), SIGHUP);
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(sendmail_host_test, nothing_is_run_when_sendmail_is_not_running) {
  for (bool systemd : {false, true}) {
    SCOPED_TRACE(systemd);
    if (systemd) fake.under_systemd();
    logs.clear();
    restart_sendmail(fake.host(), runner);
    reload_sendmail(fake.host(), runner);
    EXPECT_TRUE(runner.commands.empty());
    EXPECT_EQ(logs.lines(), (std::vector<fake_milter::logged_line>{
                                {LOG_INFO, "Sendmail is not running, no restart"},
                                {LOG_INFO, "Sendmail is not running, no reload"},
                            }));
  }
}

TEST_F(sendmail_host_test, failures_are_logged) {
  sendmail_runs(51);
  runner.results["service"] = 1 << 8;
  restart_sendmail(fake.host(), runner);
  runner.results["service"] = -1;
  reload_sendmail(fake.host(), runner);
  fake.under_systemd();
  runner.results["timeout"] = 124 << 8;
  restart_sendmail(fake.host(), runner);
  EXPECT_EQ(
      logs.lines(),
      (std::vector<fake_milter::logged_line>{
          {LOG_ERR, "Sendmail restart failed: \"service sendmail restart >/dev/null\" exited 1"},
          {LOG_ERR,
           "Sendmail reload failed: \"service sendmail reload >/dev/null\" could not be run"},
          {LOG_ERR,
           "Sendmail restart failed: \"timeout 30 systemctl --no-block restart "
           "sendmail.service >/dev/null\" exited 124"},
      }));
}

namespace {

// Gives process `pid` of the fake table a start `offset` seconds from now,
// in the form of /proc/<pid>/stat (clock ticks since boot in field 22).
void set_start(const mta_test::fake_host& fake, pid_t pid, double offset) {
  timespec since_boot{};
  clock_gettime(CLOCK_BOOTTIME, &since_boot);
  double seconds = since_boot.tv_sec + since_boot.tv_nsec / 1e9 + offset;
  auto ticks = static_cast<unsigned long long>(seconds * static_cast<double>(sysconf(_SC_CLK_TCK)));
  std::string fields = std::to_string(pid) + " (sendmail-mta) S";
  for (int field = 4; field < 22; ++field) fields += " 0";
  mta_test::write_file(fake.proc + "/" + std::to_string(pid) + "/stat",
                       fields + " " + std::to_string(ticks) + " 0 0\n");
}

}  // namespace

TEST_F(sendmail_host_test, a_sendmail_started_after_the_change_is_not_restarted) {
  mta_test::write_file(fake.cf, "O InputMailFilters=TESLO\n");  // changed now
  sendmail_runs(52);
  set_start(fake, 52, 5);
  restart_sendmail(fake.host(), runner);
  EXPECT_TRUE(runner.commands.empty());
  EXPECT_EQ(logs.lines(),
            (std::vector<fake_milter::logged_line>{
                {LOG_INFO, "Sendmail started after sendmail.cf changed, no restart"}}));
  set_start(fake, 52, -5);
  restart_sendmail(fake.host(), runner);
  EXPECT_EQ(runner.commands, (std::vector<std::string>{"service sendmail restart >/dev/null"}));
}
