#include "metrics/metrics_writer.hpp"

#include <condition_variable>
#include <csignal>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "common/paths.hpp"
#include "common/quiet_thread.hpp"
#include "metrics/counters.hpp"
#include "metrics/exposition.hpp"
#include "metrics/metrics_file.hpp"

namespace {

// Written by start and stop on the main thread; the thread reads them only
// between the two.
pthread_t writer_handle;
bool writer_running = false;
std::string writer_path;
std::chrono::milliseconds::rep writer_interval_ms = 15000;
int64_t start_time = 0;
entry_counter cache_entries = nullptr;
metrics_delivery delivery = replace_metrics_file;

// Guards stop_requested and the last failure text.
std::mutex writer_lock;
std::condition_variable writer_wakeup;
bool stop_requested = false;
std::string last_failure;

void* writer_main(void*) {
  std::unique_lock<std::mutex> hold(writer_lock);
  while (true) {
    // A stop asked for before this write is covered by it: the last write
    // starts after the request.
    bool stopping = stop_requested;
    hold.unlock();
    write_metrics_now(writer_path);
    hold.lock();
    if (stopping) break;
    writer_wakeup.wait_for(hold, std::chrono::milliseconds(writer_interval_ms),
                           [] { return stop_requested; });
  }
  return nullptr;
}

}  // namespace

void write_metrics_now(const std::string& path) {
  daemon_facts facts{names::version, start_time, cache_entries != nullptr ? cache_entries() : 0};
  std::string reason;
  bool written = delivery(path, render_metrics(take_metric_snapshot(), facts), reason);
  std::lock_guard<std::mutex> hold(writer_lock);
  if (!written && reason != last_failure) {
    log_line(LOG_ERR, "metrics file %s: %s", path.c_str(), reason.c_str());
  }
  last_failure = written ? std::string() : reason;
}

void set_metrics_delivery(metrics_delivery chosen) {
  delivery = chosen != nullptr ? chosen : replace_metrics_file;
}

bool start_metrics_writer(const std::string& path, entry_counter spf_cache_entries,
                          std::chrono::milliseconds interval) {
  if (writer_running) return true;
  writer_path = path;
  cache_entries = spf_cache_entries;
  writer_interval_ms = interval.count();
  start_time = static_cast<int64_t>(std::time(nullptr));
  stop_requested = false;
  enable_counting();

  if (create_thread_blocking(writer_handle, writer_main, nullptr,
                             signals_of({SIGHUP, SIGTERM, SIGINT, SIGUSR1, SIGUSR2})) != 0) {
    log_line(LOG_ERR, "metrics thread: pthread_create failed");
    return false;
  }
  writer_running = true;
  return true;
}

void stop_metrics_writer() {
  if (!writer_running) return;
  {
    std::lock_guard<std::mutex> hold(writer_lock);
    stop_requested = true;
  }
  writer_wakeup.notify_one();
  pthread_join(writer_handle, nullptr);
  writer_running = false;
}
