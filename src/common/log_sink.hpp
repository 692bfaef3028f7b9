// The one sink every log line of the daemon goes through.
//
// In the daemon the sink is syslog (opened with open_log). Unit tests replace
// the writer with set_log_writer and read what was written. Any thread may
// log; the writer must be safe to call concurrently (syslog is).
#pragma once

#include <cstdarg>

// Writes one line at a syslog priority (LOG_ERR, LOG_NOTICE, ...).
[[gnu::format(printf, 2, 3)]] void log_line(int priority, const char* format, ...);
[[gnu::format(printf, 2, 0)]] void log_line_v(int priority, const char* format, va_list args);

// Opens and closes the system log that the default writer uses.
void open_log(const char* identity, int option, int facility);
void close_log();

// Where formatted lines go: priority and the finished text.
using log_writer = void (*)(int priority, const char* text);

// Replaces the writer; nullptr restores syslog. Returns the previous writer.
log_writer set_log_writer(log_writer writer);
