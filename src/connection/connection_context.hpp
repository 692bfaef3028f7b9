// The per-connection context and the per-message record.
//
// A connection_context is created zero-filled by the connect stage, attached
// with smfi_setpriv and freed by teslo_close (release_context). It is touched
// only by the callbacks of its own connection (one at a time), so it takes no
// lock. Its message_record lives from one MAIL FROM to the next MAIL FROM,
// abort or close. Its settings are the snapshot of the spam-check settings
// taken at connect: every stage of the connection reads those, and a reload
// while the connection is open does not change them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <libmilter/mfapi.h>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "common/alloc_seam.hpp"
#include "spamconfig/spam_settings.hpp"

struct connection_context;
class mime_walker;

// Frees a message's MIME walker (message/mime_walker.hpp).
struct mime_walker_deleter {
  void operator()(mime_walker* walker) const;
};

// What a message still waits for from DNS: asked by the envelope-sender
// stage and taken by the stages that need the answers, both through
// checks/dns_questions.hpp. Freeing it abandons the questions.
struct message_questions;
struct message_questions_deleter {
  void operator()(message_questions* questions) const;
};

class message_record {
 public:
  bool copy_header_added = false;       // X-TESLO-ID added; envelope stage, copying
  std::string sender;                   // MAIL FROM argument, verbatim
  std::vector<std::string> recipients;  // recorded recipients, no angle brackets, RCPT order
  std::string queue_id;                 // macro "i" at MAIL FROM, "unknown" when missing
  // Asked at MAIL FROM, until taken; may be null.
  std::unique_ptr<message_questions, message_questions_deleter> dns;
  // The MIME structure of the message, followed from its first MIME header
  // field while `disposition` is not off (message/attachment_scan.hpp);
  // null when the body holds no part to follow.
  std::unique_ptr<mime_walker, mime_walker_deleter> walker;

  // Allocated through the allocation seam (common/alloc_seam.hpp), so tests
  // can make it fail; a failure throws std::bad_alloc as plain new does.
  static void* operator new(std::size_t size) {
    void* memory = teslo_malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  static void operator delete(void* memory) noexcept { std::free(memory); }
};

struct connection_context {
  uint32_t client_ip;       // IPv4 client, network order; 127.0.0.1 without an address
  message_record* message;  // current message, owned; null between messages
  spam_settings* settings;  // snapshot taken at connect, owned (new/delete); never
                            // null once the context is attached
  char client_addr[256];    // client address text; "undefined" without an address
  char client_name[128];    // client host name as the MTA reports it
  char helo_name[128];      // HELO/EHLO argument; "unknown" until it arrives
  char mail_from[128];      // MAIL FROM argument, verbatim
  char rcpt_to[128];        // latest RCPT TO argument, verbatim
  char body_line[2048];     // body line being assembled (body stage)
  int32_t body_line_len;    // bytes now in body_line
  char receiver_host[128];  // macro "j" at MAIL FROM; "localhost" when missing
  char sender_addr[256];    // envelope sender, no brackets, lower-cased; also
                            // "postmaster@" + a 127-character HELO name
  char rcpt_addr[128];      // latest recipient, no brackets
  char spf_cache_key[512];  // "<client_addr>|<sender domain>", never cut short
  char* subject;            // first Subject header (malloc'd), or null
  uint32_t to_seen;         // a To header was seen
  uint32_t cc_seen;         // a CC header was seen
  int32_t spf_result;       // spf_code: 1 neutral, 2 pass, 3 fail, 4 softfail, 5 none,
                            // 6 temperror, 7 permerror (spf/spf_result.hpp)

  // Verdict flags, each 0 or 1. Within each group: HELO, To/CC, SPF, DDNS,
  // harmful attachment, DNS blocklist. connection/verdicts.hpp maps a check
  // and an action to its flag and says which belong to the message.
  uint8_t helo_header, to_header, spf_header, ddns_header, harmful_header, dnsbl_header;
  // Exemptions from the spam actions (connection/verdicts.hpp): the
  // client's, decided at connect by the client whitelists and kept for the
  // whole connection; the message's (authenticated, verified, large,
  // whitelisted sender or recipient), cleared when a message starts.
  uint8_t client_exempt;
  uint8_t message_exempt;
  uint8_t helo_eject, to_eject, spf_eject, ddns_eject, harmful_eject, dnsbl_eject;
  uint8_t helo_quarantine, to_quarantine, spf_quarantine, ddns_quarantine, harmful_quarantine,
      dnsbl_quarantine;

  // IPv6 clients: client_ip then stays 0 and the IPv4 lists never match.
  // An IPv4-mapped IPv6 address is stored as plain IPv4 instead.
  uint8_t client_is_ipv6;   // 1 for a pure IPv6 client (connect)
  uint8_t client_ipv6[16];  // its address in network order (connect)
};

// The context is allocated zero-filled (calloc) and must stay valid that way.
static_assert(std::is_trivial_v<connection_context>);
static_assert(std::is_standard_layout_v<connection_context>);

// The settings of the connection (a context attached by connect has them).
inline const spam_config_record& settings_of(const connection_context& context) {
  return **context.settings;
}

// Frees the subject, the message record, the settings snapshot and the
// context itself. Null does nothing.
void release_context(connection_context* context);
