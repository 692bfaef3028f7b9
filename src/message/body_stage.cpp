// teslo_body: the harmful-attachment scan of the message body.
//
// libmilter calls it once per body chunk on the connection's worker thread.
// The lines are cut and tested by scan_body_chunk; a matching line logs
// "harmful attachment: %s, %s -> %s" (LOG_NOTICE, client name, MAIL FROM,
// latest RCPT TO) and raises the flag that the `disposition` action names.
// Under "quarantine" the first match also ends the scan of the chunk. A
// message with MIME parts to follow has its chunk fed to its walker too, in
// step with the raw scan (message/attachment_scan.hpp). The callback always
// lets the message go on; the verdict is acted on at the end of the message.
#include <cstring>
#include <syslog.h>

#include "connection/callback_guard.hpp"
#include "connection/callbacks.hpp"
#include "message/attachment_scan.hpp"
#include "message/body_scanner.hpp"
#include "connection/connection_context.hpp"
#include "connection/context_of.hpp"
#include "connection/verdicts.hpp"
#include "spamconfig/builtin_patterns.hpp"

namespace {

// The built-in attachment pattern cannot match a line without this text
// (it is outside every optional part of the pattern, and case is ignored).
constexpr const char* disposition_required_text = "filename=";

struct chunk_scan {
  connection_context& context;
  chunk_walk walk;
};

// Raises the verdict; under "quarantine" the rest of the chunk is not scanned.
bool on_harmful_line(void* user, std::size_t line_end) {
  auto& scan = *static_cast<chunk_scan*>(user);
  scan.walk.raw_match(line_end);
  if (report_harmful_attachment(scan.context) != ACTION_QUARANTINE) return false;
  scan.walk.silence();
  return true;
}

body_scan_pattern scan_pattern(const spam_config_record& config) {
  const char* text = config.disposition_pattern;
  if (text == nullptr || text[0] == '\0' || config.disposition_compiled == 0) {
    return {nullptr, nullptr};
  }
  bool builtin = std::strcmp(text, default_disposition_pattern_text) == 0;
  return {&config.disposition_regex, builtin ? disposition_required_text : nullptr};
}

}  // namespace

sfsistat teslo_body(SMFICTX* ctx, unsigned char* chunk, size_t length) {
  return guard_callback("teslo_body", [&] {
    connection_context* context = context_of(ctx);
    if (context == nullptr) return SMFIS_TEMPFAIL;
    const spam_config_record& config = settings_of(*context);
    if (config.disposition == ACTION_OFF) return SMFIS_CONTINUE;
    if (chunk == nullptr) return SMFIS_CONTINUE;
    // Only this stage and the end of headers write the length; keep the
    // buffer safe even if a body ever arrived without an end of headers.
    if (context->body_line_len < 0 ||
        context->body_line_len >= static_cast<int32_t>(body_line_size)) {
      context->body_line_len = 0;
    }
    chunk_scan scan{*context, chunk_walk(*context, chunk, length)};
    (void)scan_body_chunk(context->body_line, context->body_line_len, chunk, length,
                          scan_pattern(config), on_harmful_line, &scan);
    scan.walk.finish();
    return SMFIS_CONTINUE;
  });
}
