#include "metrics/exposition.hpp"

#include <cinttypes>
#include <cstdio>

namespace {

struct plain_series {
  metric which;
  const char* labels;  // without braces; empty for none
};

struct plain_family {
  const char* name;
  const char* help;
  std::initializer_list<plain_series> series;
};

const plain_family plain_families[] = {
    {"teslo_connections_total",
     "SMTP connections the filter was asked about.",
     {{metric::connections, ""}}},
    {"teslo_messages_started_total",
     "Messages started (MAIL FROM).",
     {{metric::messages_started, ""}}},
    {"teslo_messages_ended_total",
     "Messages that reached the end-of-message stage.",
     {{metric::messages_ended, ""}}},
    {"teslo_messages_aborted_total",
     "Messages abandoned by the MTA before their end.",
     {{metric::messages_aborted, ""}}},
    {"teslo_refusals_total",
     "Refusals sent to the MTA, by stage and reason.",
     {{metric::refused_blacklisted_client, "stage=\"connect\",reason=\"blacklisted_client\""},
      {metric::refused_malformed_recipient, "stage=\"rcpt\",reason=\"malformed_recipient\""},
      {metric::refused_undisclosed_recipients,
       "stage=\"header\",reason=\"undisclosed_recipients\""},
      {metric::refused_eom_helo, "stage=\"eom\",reason=\"helo\""},
      {metric::refused_eom_to, "stage=\"eom\",reason=\"to\""},
      {metric::refused_eom_spf, "stage=\"eom\",reason=\"spf\""},
      {metric::refused_eom_harmful, "stage=\"eom\",reason=\"harmful\""},
      {metric::refused_eom_ddns, "stage=\"eom\",reason=\"ddns\""},
      {metric::refused_eom_dnsbl, "stage=\"eom\",reason=\"dnsbl\""}}},
    {"teslo_exempt_messages_total",
     "Messages exempt from the spam actions, by the first cause found.",
     {{metric::exempt_whitelisted_client, "cause=\"whitelisted_client\""},
      {metric::exempt_large_message, "cause=\"large_message\""},
      {metric::exempt_authenticated, "cause=\"authenticated\""},
      {metric::exempt_verified_certificate, "cause=\"verified_certificate\""},
      {metric::exempt_whitelisted_sender, "cause=\"whitelisted_sender\""},
      {metric::exempt_whitelisted_recipient, "cause=\"whitelisted_recipient\""}}},
    {"teslo_dnsbl_lookups_total",
     "DNS blocklist lookups, by outcome.",
     {{metric::dnsbl_listed, "outcome=\"listed\""},
      {metric::dnsbl_not_listed, "outcome=\"not_listed\""},
      {metric::dnsbl_error_answer, "outcome=\"error_answer\""},
      {metric::dnsbl_failure, "outcome=\"failure\""}}},
    {"teslo_copy_recipients_added_total",
     "Copy recipients added by the copy rules.",
     {{metric::copy_recipients_added, ""}}},
    {"teslo_reloads_total",
     "Reloads of the copy rules (SIGUSR1) and settings (SIGUSR2).",
     {{metric::copy_rules_reloaded, "kind=\"copy_rules\",outcome=\"ok\""},
      {metric::copy_rules_reload_failed, "kind=\"copy_rules\",outcome=\"failed\""},
      {metric::settings_reloaded, "kind=\"settings\",outcome=\"ok\""},
      {metric::settings_reload_failed, "kind=\"settings\",outcome=\"failed\""}}},
    {"teslo_internal_errors_total",
     "Callbacks answered with a temporary failure after an internal error.",
     {{metric::internal_errors, ""}}},
    {"teslo_spf_evaluation_faults_total",
     "SPF evaluations that gave no answer: the evaluation process died, ran past the time "
     "limit, or none could be started.",
     {{metric::spf_fault_died, "cause=\"died\""},
      {metric::spf_fault_timed_out, "cause=\"timed_out\""},
      {metric::spf_fault_unavailable, "cause=\"unavailable\""}}},
};

// In the order of spam_check and of the actions header, eject, quarantine.
constexpr const char* check_names[check_count] = {"helo", "to", "spf", "ddns", "harmful", "dnsbl"};
constexpr const char* action_names[action_count] = {"header", "eject", "quarantine"};
constexpr const char* spf_result_names[spf_result_count] = {
    "invalid", "neutral", "pass", "fail", "softfail", "none", "temperror", "permerror"};
constexpr const char* spf_source_names[2] = {"fresh", "cached"};

class exposition {
 public:
  void family(const char* name, const char* type, const char* help) {
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    text_ += help;
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
  }

  void sample(const char* name, const std::string& labels, uint64_t value) {
    text_ += name;
    if (!labels.empty()) text_ += '{' + labels + '}';
    text_ += ' ';
    text_ += std::to_string(value);
    text_ += '\n';
  }

  void seconds_sample(const char* name, uint64_t nanoseconds) {
    char value[48];
    (void)std::snprintf(value, sizeof value, "%" PRIu64 ".%09" PRIu64, nanoseconds / 1'000'000'000,
                        nanoseconds % 1'000'000'000);
    text_ += name;
    text_ += ' ';
    text_ += value;
    text_ += '\n';
  }

  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

void render_plain(exposition& out, const metric_snapshot& counters) {
  for (const plain_family& family : plain_families) {
    out.family(family.name, "counter", family.help);
    for (const plain_series& series : family.series) {
      out.sample(family.name, series.labels,
                 counters.plain[static_cast<std::size_t>(series.which)]);
    }
  }
}

std::string label(const char* name, const char* value) {
  return std::string(name) + "=\"" + value + '"';
}

void render_check_hits(exposition& out, const metric_snapshot& counters) {
  const char* name = "teslo_check_hits_total";
  out.family(name, "counter",
             "Spam check hits, by check and the action configured for it (DDNS once per "
             "connection, the others once per message).");
  for (std::size_t check = 0; check < check_count; ++check) {
    for (std::size_t action = 0; action < action_count; ++action) {
      out.sample(name,
                 label("check", check_names[check]) + ',' + label("action", action_names[action]),
                 counters.check_hits[check][action]);
    }
  }
}

void render_spf(exposition& out, const metric_snapshot& counters) {
  const char* name = "teslo_spf_evaluations_total";
  out.family(name, "counter", "SPF results, by result and by source (fresh query or cache).");
  for (std::size_t result = 0; result < spf_result_count; ++result) {
    for (std::size_t source = 0; source < 2; ++source) {
      out.sample(name,
                 label("result", spf_result_names[result]) + ',' +
                     label("source", spf_source_names[source]),
                 counters.spf_evaluations[result][source]);
    }
  }
}

void render_dnsbl_latency(exposition& out, const metric_snapshot& counters) {
  out.family("teslo_dnsbl_lookup_duration_seconds", "histogram",
             "Time the DNS blocklist lookups took.");
  uint64_t cumulative = 0;
  for (std::size_t bucket = 0; bucket < latency_bucket_count; ++bucket) {
    cumulative += counters.dnsbl_latency_buckets[bucket];
    const char* bound =
        bucket < std::size(dnsbl_latency_bounds) ? dnsbl_latency_bounds[bucket].text : "+Inf";
    out.sample("teslo_dnsbl_lookup_duration_seconds_bucket", label("le", bound), cumulative);
  }
  out.seconds_sample("teslo_dnsbl_lookup_duration_seconds_sum", counters.dnsbl_latency_nanoseconds);
  // The count is the buckets' own total, so it always equals the +Inf bucket.
  out.sample("teslo_dnsbl_lookup_duration_seconds_count", "", cumulative);
}

void render_facts(exposition& out, const daemon_facts& facts) {
  out.family("teslo_spf_cache_entries", "gauge", "Entries in the SPF result cache.");
  out.sample("teslo_spf_cache_entries", "", facts.spf_cache_entries);
  out.family("teslo_start_time_seconds", "gauge",
             "Start time of the daemon, seconds since the epoch.");
  out.sample("teslo_start_time_seconds", "", static_cast<uint64_t>(facts.start_time));
  out.family("teslo_build_info", "gauge", "The daemon's version, as a label; the value is 1.");
  out.sample("teslo_build_info", label("version", facts.version), 1);
}

}  // namespace

std::string render_metrics(const metric_snapshot& counters, const daemon_facts& facts) {
  exposition out;
  render_plain(out, counters);
  render_check_hits(out, counters);
  render_spf(out, counters);
  render_dnsbl_latency(out, counters);
  render_facts(out, facts);
  return out.take();
}
