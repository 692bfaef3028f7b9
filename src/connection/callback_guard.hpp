// Keeps exceptions from crossing into libmilter (C code).
//
// Every callback body runs inside guard_callback: an exception that escapes it
// is logged and turned into a temporary failure, so an internal error makes
// Sendmail retry later rather than lose or wrongly accept mail. The label is
// the callback's own name ("teslo_envfrom"), so the log line names it.
//
// Log lines (LOG_ERR): "%s: internal error: %s" (the callback, the
// exception's text) and "%s: internal error" for any other exception.
#pragma once

#include <exception>
#include <libmilter/mfapi.h>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "metrics/counters.hpp"

template <class Body>
sfsistat guard_callback(const char* callback, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    log_line(LOG_ERR, "%s: internal error: %s", callback, error.what());
  } catch (...) {
    log_line(LOG_ERR, "%s: internal error", callback);
  }
  count(metric::internal_errors);
  return SMFIS_TEMPFAIL;
}
