// The one sink every log line of the daemon goes through: syslog (opened
// with open_log). Any thread may log.
//
// This file's definitions (log_sink.cpp) are an edge of the product, kept
// out of the core library: the unit tests, fuzz targets and benchmarks link
// a stand-in that reads or drops the lines instead (tests/support).
#pragma once

#include <cstdarg>

// Writes one line at a syslog priority (LOG_ERR, LOG_NOTICE, ...).
[[gnu::format(printf, 2, 3)]] void log_line(int priority, const char* format, ...);
[[gnu::format(printf, 2, 0)]] void log_line_v(int priority, const char* format, va_list args);

// Opens and closes the system log.
void open_log(const char* identity, int option, int facility);
void close_log();
