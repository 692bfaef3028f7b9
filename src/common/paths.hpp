// Every fixed path, command text and name of the daemon, in one place.
// Only start-up passes these to the loaders and editors; they take paths as
// parameters so tests can point them at temporary directories.
#pragma once

// names::version, configured from the file VERSION.
#include "common/version.hpp"

namespace paths {

inline constexpr const char* copy_rule_file = "/etc/mail/teslo/teslo.xml";
inline constexpr const char* copy_rule_dtd = "/etc/mail/teslo/teslo.dtd";
inline constexpr const char* spam_config_file = "/etc/mail/orvane/orvane.conf";
inline constexpr const char* pid_file = "/var/run/teslo.pid";
inline constexpr char filter_socket[] = "/var/run/teslo.sock";
inline constexpr const char* sendmail_cf = "/etc/mail/sendmail.cf";
inline constexpr const char* macro_file = "/etc/mail/brin.mc";
// Sendmail's own default; sendmail.cf may name another ("O PidFile=").
inline constexpr const char* sendmail_default_pid_file = "/var/run/sendmail.pid";
inline constexpr const char* proc_dir = "/proc";
// Present when systemd is the service manager (sd_booted(3) tests the same).
inline constexpr const char* systemd_marker = "/run/systemd/system";
// The programs the daemon starts (the filter process and its helpers), as
// installed; a daemon run from its build directory starts those beside it
// (sandbox/program_path.hpp).
inline constexpr const char* program_directory = "/usr/libexec/teslo";

}  // namespace paths

// Shell commands that make Sendmail read its configuration again: the
// service commands on a host without systemd, the systemctl call under it.
namespace commands {

inline constexpr const char* sendmail_restart = "service sendmail restart >/dev/null";
inline constexpr const char* sendmail_reload = "service sendmail reload >/dev/null";
inline constexpr const char* systemd_sendmail_restart =
    "timeout 30 systemctl --no-block restart sendmail.service >/dev/null";

}  // namespace commands

namespace names {

inline constexpr const char* log_identity = "KORVAL";
inline constexpr char filter_name[] = "KORVAL";
inline constexpr const char* command_options = "u:x";
// The account the filter process and its helpers run as, unless orvane.conf
// "user" names another: a system user of the package.
inline constexpr const char* filter_user = "teslo";

}  // namespace names
