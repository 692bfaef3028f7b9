// The concurrent load run and its report (see load_run.hpp).
#include "load_run.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t kept_errors = 5;

struct connection_result {
  std::uint64_t messages = 0;
  std::array<std::uint64_t, verdict_count> verdicts{};
  std::uint64_t connections_opened = 0;
  std::vector<std::string> errors;
  std::uint64_t error_count = 0;
  std::vector<double> latencies_ms;
  std::vector<double> waits_ms;  // per message, the time spent waiting on the filter
  reply_tally replies;
  std::uint32_t protocol = 0;
  std::uint32_t actions = 0;
  bool stopped_by_time = false;
};

void note_error(connection_result& result, const std::string& text) {
  ++result.error_count;
  if (result.errors.size() < kept_errors) result.errors.push_back(text);
}

// The drop point of message m of a connection: every drop_every-th message,
// cycling through the four places.
drop_point drop_for(const driver_options& options, long m) {
  if (options.drop_every <= 0 || (m + 1) % options.drop_every != 0) return drop_point::none;
  static constexpr drop_point cycle[] = {drop_point::after_mail, drop_point::after_rcpt,
                                         drop_point::in_headers, drop_point::in_body};
  return cycle[((m + 1) / options.drop_every) % 4];
}

void run_connection(const driver_options& options, const test_message& message, int index,
                    clock_type::time_point deadline, connection_result& result) {
  mta_session session(options.socket_path, options.reply_timeout_ms);
  session.set_client_delay(options.client_delay_ms);
  result.latencies_ms.reserve(
      static_cast<std::size_t>(std::min(options.messages_per_connection, 1000000L)));
  for (long m = 0; m < options.messages_per_connection; ++m) {
    if (clock_type::now() >= deadline) {
      result.stopped_by_time = true;
      break;
    }
    ++result.messages;
    auto started = clock_type::now();
    message_outcome outcome;
    outcome.result = verdict::continued;  // the connection is ready for the message
    if (!session.usable()) {
      std::string error;
      ++result.connections_opened;
      if (!session.open(message, error, outcome)) {
        note_error(result, error);
        ++result.verdicts[static_cast<std::size_t>(verdict::failed)];
        // A filter that is not there must not turn the run into a busy loop.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      result.protocol = session.filter_protocol();
      result.actions = session.filter_actions();
    }
    if (outcome.result == verdict::continued) {
      std::uint64_t sequence =
          static_cast<std::uint64_t>(index) * 1000000000ULL + static_cast<std::uint64_t>(m);
      bool abort_it = options.abort_every > 0 && (m + 1) % options.abort_every == 0;
      outcome = session.send_message(message, sequence, abort_it, drop_for(options, m));
    }
    if (outcome.result == verdict::failed) {
      note_error(result, outcome.error);
      session.quit();
    } else if (outcome.result != verdict::dropped) {
      std::chrono::duration<double, std::milli> took = clock_type::now() - started;
      result.latencies_ms.push_back(took.count());
      result.waits_ms.push_back(session.last_wait_ms());
    }
    ++result.verdicts[static_cast<std::size_t>(outcome.result)];
    if (options.reconnect) session.quit();
  }
  result.replies = session.tally();
  session.quit();
}

void merge(load_result& total, connection_result& part) {
  total.messages += part.messages;
  for (std::size_t i = 0; i < verdict_count; ++i) total.verdicts[i] += part.verdicts[i];
  total.replies.merge(part.replies);
  total.connections_opened += part.connections_opened;
  total.error_count += part.error_count;
  for (auto& error : part.errors) {
    if (total.errors.size() < kept_errors) total.errors.push_back(std::move(error));
  }
  total.latencies_ms.insert(total.latencies_ms.end(), part.latencies_ms.begin(),
                            part.latencies_ms.end());
  total.waits_ms.insert(total.waits_ms.end(), part.waits_ms.begin(), part.waits_ms.end());
  total.stopped_by_time = total.stopped_by_time || part.stopped_by_time;
  if (part.protocol != 0 || part.actions != 0) {
    total.filter_protocol = part.protocol;
    total.filter_actions = part.actions;
  }
}

}  // namespace

load_result run_load(const driver_options& options, const test_message& message) {
  load_result total;
  int pid = options.filter_pid;
  if (pid == 0 && !options.pid_file.empty()) pid = pid_from_file(options.pid_file);
  if (pid > 0 && options.reset_peak && !reset_peak_rss(pid)) {
    total.warnings.push_back("could not reset the filter's peak RSS");
  }
  total.filter_before = read_process_figures(pid);

  // Connections that stay idle after HELO while the others work, as slow
  // clients hold theirs.
  std::vector<std::unique_ptr<mta_session>> stalled;
  for (long s = 0; s < options.stall; ++s) {
    auto session = std::make_unique<mta_session>(options.socket_path, options.reply_timeout_ms);
    std::string error;
    message_outcome refused;
    if (!session->open(message, error, refused)) {
      total.warnings.push_back("stalled connection " + std::to_string(s) + ": " + error);
      break;
    }
    stalled.push_back(std::move(session));
  }
  total.stalled = stalled.size();
  if (options.idle_seconds > 0) {
    std::optional<process_figures> before = read_process_figures(pid);
    std::this_thread::sleep_for(std::chrono::duration<double>(options.idle_seconds));
    std::optional<process_figures> after = read_process_figures(pid);
    if (before && after) total.idle_cpu_seconds = after->cpu_seconds - before->cpu_seconds;
  }

  std::vector<connection_result> parts(static_cast<std::size_t>(options.connections));
  std::vector<std::thread> threads;
  threads.reserve(parts.size());
  auto started = clock_type::now();
  auto deadline = started + std::chrono::duration_cast<clock_type::duration>(
                                std::chrono::duration<double>(options.time_limit_seconds));
  for (int i = 0; i < options.connections; ++i) {
    threads.emplace_back(run_connection, std::cref(options), std::cref(message), i, deadline,
                         std::ref(parts[static_cast<std::size_t>(i)]));
  }
  for (auto& thread : threads) thread.join();
  total.wall_seconds = std::chrono::duration<double>(clock_type::now() - started).count();
  // libmilter finishes each connection (close callback, thread end) just
  // after our QUIT; give it that moment before reading its CPU time.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  total.filter_after = read_process_figures(pid);

  for (auto& session : stalled) session->quit();
  for (auto& part : parts) merge(total, part);
  std::sort(total.latencies_ms.begin(), total.latencies_ms.end());
  std::sort(total.waits_ms.begin(), total.waits_ms.end());
  return total;
}

void print_load_result(const driver_options& options, const load_result& result) {
  const double rate =
      result.wall_seconds > 0 ? static_cast<double>(result.answered()) / result.wall_seconds : 0;
  const double p50 = percentile(result.latencies_ms, 0.50);
  const double p95 = percentile(result.latencies_ms, 0.95);
  const double p99 = percentile(result.latencies_ms, 0.99);
  std::printf("%s: %d connections x %ld messages, %llu started, %llu answered in %.3f s%s\n",
              options.label.c_str(), options.connections, options.messages_per_connection,
              static_cast<unsigned long long>(result.messages),
              static_cast<unsigned long long>(result.answered()), result.wall_seconds,
              result.stopped_by_time ? " (time limit reached)" : "");
  std::printf("  messages/s %.1f   latency ms p50 %.3f  p95 %.3f  p99 %.3f\n", rate, p50, p95, p99);
  std::printf("  verdicts:");
  for (std::size_t i = 0; i < verdict_count; ++i) {
    std::printf(" %s %llu", verdict_name(static_cast<verdict>(i)),
                static_cast<unsigned long long>(result.verdicts[i]));
  }
  std::printf("\n  replies by kind:");
  for (std::size_t letter = 0; letter < result.replies.by_letter.size(); ++letter) {
    if (result.replies.by_letter[letter] == 0) continue;
    std::printf(" '%c' %llu", static_cast<char>(letter),
                static_cast<unsigned long long>(result.replies.by_letter[letter]));
  }
  std::printf(
      "\n  filter protocol flags 0x%x, actions 0x%x, connections opened %llu, errors %llu\n",
      result.filter_protocol, result.filter_actions,
      static_cast<unsigned long long>(result.connections_opened),
      static_cast<unsigned long long>(result.error_count));
  for (const auto& error : result.errors) std::printf("  error: %s\n", error.c_str());
  for (const auto& warning : result.warnings) std::printf("  warning: %s\n", warning.c_str());
  double cpu_per_10k = -1;
  long long peak_kb = -1;
  if (result.filter_before && result.filter_after) {
    double cpu = result.filter_after->cpu_seconds - result.filter_before->cpu_seconds;
    if (result.answered() > 0) cpu_per_10k = cpu * 10000.0 / static_cast<double>(result.answered());
    peak_kb = static_cast<long long>(result.filter_after->peak_rss_kb);
    std::printf("  filter CPU %.2f s, %.3f s per 10,000 messages; peak RSS %lld kB (now %llu kB)\n",
                cpu, cpu_per_10k, peak_kb,
                static_cast<unsigned long long>(result.filter_after->rss_kb));
  } else {
    std::printf("  filter CPU and RSS: not measured (no --pid or the process is gone)\n");
  }
  std::printf(
      "RESULT label=%s connections=%d messages=%llu answered=%llu errors=%llu rate=%.1f "
      "p50_ms=%.3f p95_ms=%.3f p99_ms=%.3f cpu_per_10k=%.4f peak_rss_kb=%lld stalled=%zu "
      "idle_cpu_s=%.2f wait_p50_ms=%.3f wait_p99_ms=%.3f\n",
      options.label.c_str(), options.connections, static_cast<unsigned long long>(result.messages),
      static_cast<unsigned long long>(result.answered()),
      static_cast<unsigned long long>(result.error_count), rate, p50, p95, p99, cpu_per_10k,
      peak_kb, result.stalled, result.idle_cpu_seconds, percentile(result.waits_ms, 0.50),
      percentile(result.waits_ms, 0.99));
  std::fflush(stdout);
}
