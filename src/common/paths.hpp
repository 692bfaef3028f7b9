// Every fixed path, command text and name of the daemon, in one place.
// Only start-up passes these to the loaders and editors; they take paths as
// parameters so tests can point them at temporary directories.
#pragma once

namespace paths {

inline constexpr const char* copy_rule_file = "/etc/mail/teslo/teslo.xml";
inline constexpr const char* spam_config_file = "/etc/mail/orvane/orvane.conf";
inline constexpr const char* pid_file = "/var/run/teslo.pid";
inline constexpr const char* filter_socket = "/var/run/teslo.sock";
inline constexpr const char* sendmail_cf = "/etc/mail/sendmail.cf";
inline constexpr const char* sendmail_cf_temp = "/tmp/teslo.cf";
inline constexpr const char* macro_file = "/etc/mail/brin.mc";
inline constexpr const char* macro_file_temp = "/tmp/brin.mc";

}  // namespace paths

// Shell commands run with system(). The move commands are printf formats
// taking the temporary file, then the file it replaces; with the fixed paths
// above they give the exact command texts.
namespace commands {

inline constexpr const char* sendmail_running = "pidof sendmail >/dev/null";
inline constexpr const char* sendmail_restart = "service sendmail restart >/dev/null";
inline constexpr const char* sendmail_reload = "service sendmail reload >/dev/null";
inline constexpr const char* cf_install_move = "mv -f %s %s >/dev/null";
inline constexpr const char* cf_remove_move = "/bin/mv -f %s %s > /dev/null 2>&1 ";
inline constexpr const char* mc_install_move = "/bin/mv -f %s %s > /dev/null 2>&1 ";
inline constexpr const char* mc_remove_move = "/bin/mv -f  %s %s > /dev/null 2>&1 ";

}  // namespace commands

namespace names {

inline constexpr const char* version = "0.3-2";
inline constexpr const char* log_identity = "KORVAL";
inline constexpr const char* filter_name = "KORVAL";
inline constexpr const char* command_options = "u:x";

}  // namespace names
