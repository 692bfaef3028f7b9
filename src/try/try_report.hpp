// What teslo-try prints: each stage's reply in words, what the filter
// changed, and the reply Sendmail would give the client, from the packets
// the filter sent (the session's reply log).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "milterclient/mta_session.hpp"

struct try_transcript {
  std::vector<std::string> recipients;  // as sent, in angle brackets
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<filter_reply> replies;
};

// How the message ended for Sendmail's client.
enum class try_verdict { accepted, refused, quarantined };

// Writes the report; returns the verdict.
try_verdict write_try_report(const try_transcript& transcript, std::ostream& out);
