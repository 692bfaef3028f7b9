// The MIME side of the harmful-attachment check (see attachment_scan.hpp).
#include "message/attachment_scan.hpp"

#include <syslog.h>

#include <memory>
#include <string>

#include "archive/archive_asker.hpp"
#include "common/log_sink.hpp"
#include "common/text.hpp"
#include "connection/verdicts.hpp"
#include "message/mime_walker.hpp"

namespace {

constexpr std::size_t logged_name_limit = 200;

// A name from the message as a log line may carry it: control bytes become
// '?', and it is cut at logged_name_limit bytes.
std::string loggable(const std::string& name) {
  std::string text = name.substr(0, logged_name_limit);
  for (char& c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || c == '"') c = '?';
  }
  return text;
}

bool mime_field(const char* name) {
  return same_text_ignoring_ascii_case(name, "Content-Type") ||
         same_text_ignoring_ascii_case(name, "Content-Disposition") ||
         same_text_ignoring_ascii_case(name, "Content-Transfer-Encoding");
}

// Turns what the walker finds into log lines and verdicts.
class reporter final : public mime_walker::observer {
 public:
  reporter(connection_context& context, bool& quiet) : context_(context), quiet_(quiet) {}

  void harmful_part(const std::string& name) override {
    if (quiet_) return;
    if (report_harmful_attachment(context_) == ACTION_QUARANTINE) quiet_ = true;
    log_line(LOG_INFO, "harmful attachment name: \"%s\"", loggable(name).c_str());
  }

  void archive_part(const std::string& name, const std::string& content) override {
    if (quiet_) return;  // quarantined by this chunk already: no listing needed
    const char* extensions = settings_of(context_).harmfulext;
    archive_listing listing = ask_archive_listing(content, extensions != nullptr ? extensions : "");
    if (!listing.harmful.empty()) {
      if (report_harmful_attachment(context_) == ACTION_QUARANTINE) quiet_ = true;
      log_line(LOG_INFO, "harmful attachment in archive: \"%s\" holds \"%s\"",
               loggable(name).c_str(), loggable(listing.harmful).c_str());
    } else if (listing.status == archive_listing::too_many_members) {
      log_line(LOG_INFO, "archive not listed: \"%s\": more than %zu members",
               loggable(name).c_str(), max_archive_members);
    } else if (listing.status != archive_listing::listed) {
      log_line(LOG_INFO, "archive not listed: \"%s\": %s", loggable(name).c_str(),
               loggable(listing.problem).c_str());
    }
  }

  void archive_not_collected(const std::string& name, unlisted why) override {
    if (why == unlisted::too_many) {
      log_line(LOG_INFO, "archive not listed: \"%s\": more than %zu archives in the message",
               loggable(name).c_str(), max_archives_per_message);
    } else {
      log_line(LOG_INFO, "archive not listed: \"%s\": larger than %zu MB", loggable(name).c_str(),
               archive_size_limit / (std::size_t{1024} * 1024));
    }
  }

 private:
  connection_context& context_;
  bool& quiet_;
};

mime_walker* walker_of(connection_context& context) {
  return context.message != nullptr ? context.message->walker.get() : nullptr;
}

}  // namespace

check_action report_harmful_attachment(connection_context& context) {
  log_line(LOG_NOTICE, "harmful attachment: %s, %s -> %s", context.client_name, context.mail_from,
           context.rcpt_to);
  check_action action = settings_of(context).disposition;
  raise_verdict(context, spam_check::harmful, action);
  return action;
}

void note_message_header(connection_context& context, const char* name, const char* value) {
  const spam_config_record& config = settings_of(context);
  if (config.disposition == ACTION_OFF || context.message == nullptr || name == nullptr) return;
  if (context.message->walker == nullptr) {
    if (!mime_field(name)) return;
    context.message->walker.reset(new mime_walker(
        config.harmfulext != nullptr ? config.harmfulext : "", archive_lister_available()));
  }
  context.message->walker->message_header(name, value);
}

void start_attachment_scan(connection_context& context) {
  mime_walker* walker = walker_of(context);
  if (walker == nullptr) return;
  bool quiet = false;
  reporter found(context, quiet);
  if (!walker->start_body(found)) context.message->walker.reset();
}

chunk_walk::chunk_walk(connection_context& context, const unsigned char* chunk, std::size_t length)
    : context_(context), chunk_(chunk), length_(length) {}

void chunk_walk::feed_to(std::size_t end) {
  mime_walker* walker = walker_of(context_);
  if (walker == nullptr || end <= fed_) return;
  reporter found(context_, quiet_);
  walker->feed(chunk_ + fed_, end - fed_, found);
  fed_ = end;
}

void chunk_walk::raw_match(std::size_t end) {
  feed_to(end);
  if (mime_walker* walker = walker_of(context_); walker != nullptr) walker->raw_match();
}

void chunk_walk::finish() {
  feed_to(length_);
  mime_walker* walker = walker_of(context_);
  if (walker != nullptr && walker->done()) context_.message->walker.reset();
}

void finish_attachment_scan(connection_context& context) {
  mime_walker* walker = walker_of(context);
  if (walker == nullptr) return;
  bool quiet = false;
  reporter found(context, quiet);
  walker->finish(found);
  context.message->walker.reset();
}
