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

namespace names {

inline constexpr const char* version = "0.3-2";
inline constexpr const char* log_identity = "KORVAL";
inline constexpr const char* filter_name = "KORVAL";
inline constexpr const char* command_options = "u:x";

}  // namespace names
