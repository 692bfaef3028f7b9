// The thread that writes the metrics file: at start, every 15 seconds, and a
// last time at stop, so the file ends with the final counts.
//
// Started by start-up on the main thread when orvane.conf names a
// "metricsfile" (the path read at start-up stays in force until the daemon
// stops; a settings reload does not change it), stopped and joined by
// shutdown. The thread runs with SIGHUP, SIGTERM, SIGINT, SIGUSR1 and SIGUSR2
// blocked, so those reach libmilter's signal thread and the reload thread.
//
// Log line (LOG_ERR): "metrics file %s: %s" (the path, the failed step and
// its reason) when a write fails; repeats of the same failure are not logged
// again until a write succeeds or the reason changes. The daemon carries on.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// How many entries the SPF cache holds; the daemon passes
// spf_cache_entry_count (the cache lives in a layer above the metrics).
using entry_counter = std::size_t (*)();

// How a write reaches the file: replace_metrics_file (metrics_file.hpp)
// unless set otherwise. A process that may not write the file itself hands
// the text to one that may; false, with `reason`, when that failed.
using metrics_delivery = bool (*)(const std::string& path, const std::string& text,
                                  std::string& reason);

// Replaces the delivery (nullptr restores replace_metrics_file). Before
// start_metrics_writer.
void set_metrics_delivery(metrics_delivery delivery);

// Turns counting on and starts the thread for `path`. `spf_cache_entries`
// (null: 0 entries) is asked at every write. False, after a LOG_ERR line
// "metrics thread: pthread_create failed", when it cannot start.
bool start_metrics_writer(const std::string& path, entry_counter spf_cache_entries,
                          std::chrono::milliseconds interval = std::chrono::seconds(15));

// Wakes the thread for its last write and joins it. Nothing without a thread.
void stop_metrics_writer();

// One write of the file now, with the log line on failure (what the thread
// does each time).
void write_metrics_now(const std::string& path);
