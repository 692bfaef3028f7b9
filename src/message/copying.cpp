#include "message/copying.hpp"

#include <cstring>
#include <exception>
#include <string_view>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "common/trim.hpp"
#include "metrics/counters.hpp"

namespace {

constexpr std::size_t identifier_length = 64;
const char* const copy_header_name = "X-TESLO-ID";
// Used when the MTA does not pass macro "j"; the envelope stage does the same.
const char* const fallback_host = "localhost";

std::string bracketed(const std::string& address) {
  return address.starts_with('<') ? address : "<" + address + ">";
}

// An address without "@" becomes the text between its first character and
// its first ">" (or its end), then "@", the host and ">".
void complete_with_host(std::string& address, const std::string& host) {
  if (address.find('@') != std::string::npos) return;
  std::string::size_type close = address.find('>');
  std::string local = address.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  address = local + "@" + host + ">";
}

// The receiving host's name (macro "j"), for completing bare local parts.
std::string receiving_host(SMFICTX* ctx, const std::string& address) {
  if (address.find('@') != std::string::npos) return {};
  const char* host = smfi_getsymval(ctx, const_cast<char*>("j"));
  return host != nullptr ? host : fallback_host;
}

bool is_trim_char(char c) { return c != '\0' && std::strchr(trim_chars, c) != nullptr; }

// The common shapes of an address normalise without any work: a recipient
// "a@b" becomes "<a@b>" (built in `scratch`, whose capacity is reused), and a
// bracketed address with "@" and nothing to trim is its own normal form.
// Anything else goes through the full normalisation.
std::string_view recipient_view(SMFICTX* ctx, const std::string& address, std::string& scratch) {
  if (!address.empty() && address.find('@') != std::string::npos) {
    if (address.front() != '<') {
      scratch.assign(1, '<');
      scratch.append(address);
      scratch.push_back('>');
      return scratch;
    }
    if (!is_trim_char(address.back())) return address;
  }
  scratch = normalise_recipient(address, receiving_host(ctx, address));
  return scratch;
}

std::string_view sender_view(SMFICTX* ctx, const std::string& address, std::string& scratch) {
  if (!address.empty() && address.front() == '<' && !is_trim_char(address.back()) &&
      address.find('@') != std::string::npos) {
    return address;
  }
  scratch = normalise_sender(address, receiving_host(ctx, address));
  return scratch;
}

bool rule_matches(const copy_rule& rule, std::string_view address) {
  return address.find(rule.domain) != std::string_view::npos ||
         rule.domain.find("ALL>") != std::string::npos;
}

// State of one run of the phase over the rules.
struct copy_run {
  copy_run(SMFICTX* handle, message_record& record) : ctx(handle), message(record) {}

  SMFICTX* ctx;
  message_record& message;
  bool sender_ready = false;
  std::string_view sender;     // normalised sender, built when first needed
  std::string sender_storage;  // holds it when it differs from the MAIL FROM text
  std::string recipient_scratch;

  std::string_view normalised_sender() {
    if (!sender_ready) {
      sender = sender_view(ctx, message.sender, sender_storage);
      sender_ready = true;
    }
    return sender;
  }

  void add_header_once() {
    if (message.copy_header_added) return;
    // The first 64 characters of the queue identifier.
    std::string value = message.queue_id.substr(0, identifier_length);
    smfi_addheader(ctx, const_cast<char*>(copy_header_name), value.data());
    message.copy_header_added = true;
  }

  // libmilter takes char* but only reads the address.
  void add_recipient(const std::string& mailaddr) {
    smfi_addrcpt(ctx, const_cast<char*>(mailaddr.c_str()));
    count(metric::copy_recipients_added);
  }

  // Applies one rule; false when its address is too long (already logged).
  bool apply(const copy_rule& rule);
};

bool copy_run::apply(const copy_rule& rule) {
  const copy_direction direction = rule.direction;
  if (direction == copy_direction::never) return true;
  const bool sender_copies =
      direction == copy_direction::sender || direction == copy_direction::sender_and_recipients;
  bool sender_matched = false;

  if (direction != copy_direction::recipients && rule_matches(rule, normalised_sender())) {
    sender_matched = true;
    if (sender_copies) {
      if (rule.mailaddr.size() > copy_address_limit) {
        log_line(LOG_ERR, "configure error:copy rcpt mailaddr size to big!");
        return false;
      }
      add_header_once();
      add_recipient(rule.mailaddr);
    }
  }

  if (direction != copy_direction::sender) {
    for (const std::string& recipient : message.recipients) {
      if (!rule_matches(rule, recipient_view(ctx, recipient, recipient_scratch))) continue;
      if (rule.mailaddr.size() > copy_address_limit) {
        log_line(LOG_ERR, "configure error:copy rcpt mailaddr size to big! %s",
                 rule.mailaddr.c_str());
        return false;
      }
      if (direction == copy_direction::recipients_if_sender && !sender_matched) continue;
      add_recipient(rule.mailaddr);
      add_header_once();
    }
  }
  return true;
}

}  // namespace

std::string normalise_recipient(const std::string& address, const std::string& host) {
  std::string result = bracketed(address);
  complete_with_host(result, host);
  trim(result, trim_chars);
  return result;
}

std::string normalise_sender(const std::string& address, const std::string& host) {
  std::string result = bracketed(address);
  trim(result, trim_chars);
  complete_with_host(result, host);
  return result;
}

bool copy_rule_matches(const copy_rule& rule, const std::string& address) {
  return rule_matches(rule, address);
}

sfsistat copy_phase(SMFICTX* ctx, connection_context& context, const copy_rule_table& rules) {
  if (context.message == nullptr) return SMFIS_CONTINUE;
  try {
    copy_run run(ctx, *context.message);
    for (const copy_rule& rule : rules) {
      if (!run.apply(rule)) return SMFIS_ACCEPT;
    }
    return SMFIS_CONTINUE;
  } catch (const std::exception& error) {
    log_line(LOG_ERR, "Thrown error: %s", error.what());
    log_line(LOG_DEBUG, "teslo_eom: exit error");
    count(metric::internal_errors);
    return SMFIS_TEMPFAIL;
  }
}

sfsistat copy_phase(SMFICTX* ctx, connection_context& context) {
  // One snapshot for the whole message: a reload meanwhile publishes a new
  // table but this one stays alive and unchanged until we drop it.
  copy_rule_snapshot rules = current_copy_rules();
  return copy_phase(ctx, context, *rules);
}
