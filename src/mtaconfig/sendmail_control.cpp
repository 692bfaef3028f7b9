#include "mtaconfig/sendmail_control.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <syslog.h>

#include "common/error_text.hpp"
#include "common/log_sink.hpp"
#include "common/paths.hpp"

namespace {

// What a system()-style status means, for the log.
std::string describe_status(const char* command, int status) {
  std::string text = std::string("\"") + command + "\" ";
  if (status == -1) return text + "could not be run";
  if (WIFEXITED(status)) return text + "exited " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return text + "was killed by signal " + std::to_string(WTERMSIG(status));
  return text + "failed";
}

// Runs one command; a non-zero result is logged as the failure of `what`.
void run_logged(command_runner& runner, const char* command, const char* what) {
  int status = runner.run(command);
  if (status != 0)
    log_line(LOG_ERR, "Sendmail %s failed: %s", what, describe_status(command, status).c_str());
}

}  // namespace

void restart_sendmail(const sendmail_host& host, command_runner& runner) {
  pid_t daemon = find_sendmail_daemon(host);
  if (daemon == 0) {
    log_line(LOG_INFO, "Sendmail is not running, no restart");
    return;
  }
  // A Sendmail that started after the filter went into sendmail.cf already
  // consults it. At boot it is also still starting (ordered after us), and a
  // restart queued then makes its start fail.
  if (started_after_config(host, daemon)) {
    log_line(LOG_INFO, "Sendmail started after sendmail.cf changed, no restart");
    return;
  }
  run_logged(
      runner,
      runs_under_systemd(host) ? commands::systemd_sendmail_restart : commands::sendmail_restart,
      "restart");
}

void reload_sendmail(const sendmail_host& host, command_runner& runner) {
  pid_t daemon = find_sendmail_daemon(host);
  if (daemon == 0) {
    log_line(LOG_INFO, "Sendmail is not running, no reload");
    return;
  }
  if (!runs_under_systemd(host)) {
    run_logged(runner, commands::sendmail_reload, "reload");
    return;
  }
  if (kill(daemon, SIGHUP) != 0) {
    log_line(LOG_ERR, "Sendmail reload failed: SIGHUP to %ld: %s", static_cast<long>(daemon),
             error_text(errno));
  }
}
