// How the root monitor starts the filter program, and what the program
// finds when it starts: the one interface between src/monitor and
// src/filter besides the channel's requests (monitor_channel.hpp).
//
// The program is `teslo-filter` in the program directory
// (program_path.hpp). It is started by exec from a child of the monitor
// that has already given up root, with the descriptors below and nothing
// else open besides standard input, output and error (the null device),
// with SIGHUP, SIGTERM and SIGINT blocked (libmilter's signal thread waits
// for them), SIGUSR1 and SIGUSR2 ignored and every other signal open and at
// its default. Its arguments are fixed words,
// never a path or a text from a file: only filter_metrics_argument, when
// the monitor has a metrics file to write.
#pragma once

inline constexpr const char* filter_program_name = "teslo-filter";
inline constexpr const char* filter_metrics_argument = "--metrics";

// The filter's end of the monitor's channel (monitor_channel.hpp).
inline constexpr int filter_channel_fd = 3;
// The listener: the filter socket, bound and listening, opened by the
// monitor (monitor/filter_socket.hpp); libmilter serves on it.
inline constexpr int filter_listener_fd = 4;
// The read end of the reload wake-up pipe (monitor/reload_signal.hpp);
// absent (closed) when the monitor could not make the pipe.
inline constexpr int filter_reload_fd = 5;
// What a byte in the reload wake-up pipe asks for.
inline constexpr char reload_rules_byte = 'r';
inline constexpr char reload_settings_byte = 's';
// The first descriptor the monitor's child closes before the exec.
inline constexpr int filter_first_closed_fd = 6;
