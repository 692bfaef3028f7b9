// The counters in the Prometheus text exposition format (version 0.0.4), as
// node_exporter's textfile collector reads it: for each family a HELP and a
// TYPE line, then its samples; every label combination is written, zeros
// included, so series do not appear and vanish; histograms as cumulative
// "_bucket" samples up to le="+Inf", then "_sum" (seconds) and "_count".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "metrics/counters.hpp"

// What the daemon adds beside its counters.
struct daemon_facts {
  const char* version;  // teslo_build_info{version="..."}
  int64_t start_time;   // seconds since the epoch
  std::size_t spf_cache_entries;
};

std::string render_metrics(const metric_snapshot& counters, const daemon_facts& facts);
