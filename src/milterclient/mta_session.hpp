// One MTA-side conversation with a mail filter over its UNIX socket, as
// Sendmail holds it: option negotiation (protocol version 6, honouring the
// steps the filter leaves out and the replies it does not send), the macros
// of each stage sent before its command, connect, HELO, then any number of
// messages (MAIL, RCPT, DATA, headers, end of headers, body chunks, end of
// body, or abort), and QUIT.
//
// The load driver gives each connection thread a session of its own;
// teslo-try uses one session for one message and keeps its reply log.
// Nothing is shared.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "milterclient/milter_wire.hpp"
#include "milterclient/test_message.hpp"

// How many replies of each letter a session received.
struct reply_tally {
  std::array<std::uint64_t, 128> by_letter{};
  void add(char letter) { ++by_letter[static_cast<unsigned char>(letter) & 0x7f]; }
  void merge(const reply_tally& other) {
    for (std::size_t i = 0; i < by_letter.size(); ++i) by_letter[i] += other.by_letter[i];
  }
};

// How one message ended.
enum class verdict {
  continued,   // end of body answered "continue": the MTA delivers it
  accepted,    // "accept" at any stage
  rejected,    // "reject", or a 5xx reply code
  tempfailed,  // "tempfail", or a 4xx reply code
  discarded,   // "discard"
  dropped,     // the driver closed the connection mid-message on purpose
  aborted,     // the driver abandoned it on purpose (abort command)
  failed,      // protocol error, timeout or closed connection
};
inline constexpr std::size_t verdict_count = 8;

// Where a message is cut off by closing the connection without abort or
// QUIT, as a client that goes away makes Sendmail do (--drop-every).
enum class drop_point { none, after_mail, after_rcpt, in_headers, in_body };
const char* verdict_name(verdict v);

struct message_outcome {
  verdict result = verdict::failed;
  std::string error;  // what went wrong, for verdict::failed
};

// One packet the filter sent, with the command it answered.
struct filter_reply {
  char command = 0;  // milter_wire::cmd_*
  char letter = 0;   // milter_wire::reply_*
  std::string data;
};

class mta_session {
 public:
  mta_session(std::string socket_path, int timeout_ms);
  ~mta_session();
  mta_session(const mta_session&) = delete;
  mta_session& operator=(const mta_session&) = delete;

  // Connects, negotiates, and sends connect and HELO. False when the socket
  // or the negotiation failed (`error` says why); true otherwise. When the
  // filter refused or accepted the connection itself, `refused` holds that
  // verdict and the session is closed again: the caller counts the message
  // it was about to send with it.
  bool open(const test_message& message, std::string& error, message_outcome& refused);
  // True while a negotiated connection is usable for another message.
  bool usable() const { return fd_ >= 0 && !broken_; }
  // Sends one whole message (or abandons it with the abort command after its
  // recipients when `abort_it`) and reads every reply. `sequence` makes the
  // queue identifier unique.
  message_outcome send_message(const test_message& message, std::uint64_t sequence, bool abort_it);
  // The same, but the connection is closed at `drop` (verdict dropped; the
  // next message opens a new connection).
  message_outcome send_message(const test_message& message, std::uint64_t sequence, bool abort_it,
                               drop_point drop);
  // Sends QUIT and closes the socket.
  void quit();

  // Keeps every packet the filter sends from now on in `log` (nullptr: none).
  void log_replies(std::vector<filter_reply>* log) { reply_log_ = log; }
  // Sends macro `name` with `value` before `command` (milter_wire::cmd_*),
  // in place of the session's own value for that name if it has one.
  void set_macro(char command, std::string name, std::string value) {
    extra_macros_.push_back({command, {std::move(name), std::move(value)}});
  }

  // Waits `ms` after the reply to MAIL FROM, as a client that takes that long
  // to send its recipients and data (load measurements).
  void set_client_delay(int ms) { client_delay_ms_ = ms; }
  // Milliseconds spent waiting for the filter's replies during the last
  // send_message (the time an MTA would wait on the filter).
  double last_wait_ms() const { return last_wait_ms_; }

  const reply_tally& tally() const { return tally_; }
  std::uint32_t filter_protocol() const { return protocol_; }
  std::uint32_t filter_actions() const { return actions_; }

 private:
  struct step_reply {
    char letter = 0;  // final reply letter, 0 on error
    std::string data;
    std::string error;
  };
  bool negotiate(std::string& error);
  void queue_macros(char stage, std::initializer_list<std::pair<const char*, std::string>> macros);
  // Macros for a stage that sends none of its own: only those set_macro gave.
  void queue_set_macros(char stage);
  void queue(char command, std::string_view data) {
    if (command != milter_wire::cmd_macro) last_command_ = command;
    milter_wire::append_packet(out_, command, data);
  }
  bool flush();
  // Sends what is queued; when `wants_reply`, reads up to the final reply
  // (modification replies and progress reports on the way are tallied).
  step_reply exchange(bool wants_reply);
  message_outcome finish_early(const step_reply& reply);
  // The reply to connect or HELO: go on, the filter refused the connection
  // (in `refused`, the session closed), or the exchange failed (`error`).
  enum class opening { go_on, refused, failed };
  opening opening_reply(bool wants_reply, std::string& error, message_outcome& refused);
  message_outcome body_and_end(const test_message& message, drop_point drop);
  message_outcome drop_connection();
  bool skips(std::uint32_t flag) const { return (protocol_ & flag) != 0; }
  void close_socket();

  std::string socket_path_;
  int timeout_ms_;
  int fd_ = -1;
  bool broken_ = false;
  std::uint32_t protocol_ = 0;
  std::uint32_t actions_ = 0;
  std::string out_;
  milter_wire::packet_reader reader_{-1};
  reply_tally tally_;
  char last_command_ = 0;
  std::vector<filter_reply>* reply_log_ = nullptr;
  std::vector<std::pair<char, std::pair<std::string, std::string>>> extra_macros_;
  int client_delay_ms_ = 0;
  double last_wait_ms_ = 0;
};
