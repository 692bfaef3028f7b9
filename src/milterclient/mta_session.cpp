// The MTA side of one mail-filter conversation (see mta_session.hpp).
#include "milterclient/mta_session.hpp"

#include <algorithm>
#include <chrono>
#include <arpa/inet.h>
#include <cstring>
#include <thread>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "common/error_text.hpp"

namespace w = milter_wire;

namespace {

bool is_modification(char letter) {
  switch (letter) {
    case w::reply_add_rcpt:
    case w::reply_del_rcpt:
    case w::reply_add_rcpt_par:
    case w::reply_repl_body:
    case w::reply_chg_from:
    case w::reply_add_header:
    case w::reply_ins_header:
    case w::reply_chg_header:
    case w::reply_quarantine: return true;
    default: return false;
  }
}

// The verdict a final reply gives a whole message (reply codes by their
// first digit); continue and skip give none here.
verdict verdict_of(char letter, const std::string& data) {
  switch (letter) {
    case w::reply_accept: return verdict::accepted;
    case w::reply_reject: return verdict::rejected;
    case w::reply_discard: return verdict::discarded;
    case w::reply_replycode:
      if (!data.empty() && data[0] == '5') return verdict::rejected;
      if (!data.empty() && data[0] == '4') return verdict::tempfailed;
      return verdict::failed;
    default:  // tempfail, connection failure, shutdown
      return verdict::tempfailed;
  }
}

std::string nul_terminated(const std::string& text) { return text + '\0'; }

std::string bare_host(const std::string& address) {
  auto at = address.find('@');
  if (at == std::string::npos) return "";
  std::string host = address.substr(at + 1);
  if (!host.empty() && host.back() == '>') host.pop_back();
  return host;
}

std::string bare_address(const std::string& address) {
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
    return address.substr(1, address.size() - 2);
  }
  return address;
}

}  // namespace

const char* verdict_name(verdict v) {
  switch (v) {
    case verdict::continued: return "continue";
    case verdict::accepted: return "accept";
    case verdict::rejected: return "reject";
    case verdict::tempfailed: return "tempfail";
    case verdict::discarded: return "discard";
    case verdict::dropped: return "dropped";
    case verdict::aborted: return "aborted";
    case verdict::failed: return "error";
  }
  return "?";
}

mta_session::mta_session(std::string socket_path, int timeout_ms)
    : socket_path_(std::move(socket_path)), timeout_ms_(timeout_ms) {}

mta_session::~mta_session() { close_socket(); }

void mta_session::close_socket() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  out_.clear();
}

bool mta_session::flush() {
  bool written = w::write_all(fd_, out_);
  out_.clear();
  return written;
}

void mta_session::queue_macros(char stage,
                               std::initializer_list<std::pair<const char*, std::string>> macros) {
  std::vector<std::pair<std::string, std::string>> all(macros.begin(), macros.end());
  for (const auto& extra : extra_macros_) {
    if (extra.first != stage) continue;
    const std::string& name = extra.second.first;
    auto same =
        std::find_if(all.begin(), all.end(), [&](const auto& m) { return m.first == name; });
    if (same != all.end())
      same->second = extra.second.second;
    else
      all.push_back(extra.second);
  }
  std::string data(1, stage);
  for (const auto& [name, value] : all) {
    data += name;
    data.push_back('\0');
    data += value;
    data.push_back('\0');
  }
  queue(w::cmd_macro, data);
}

void mta_session::queue_set_macros(char stage) {
  for (const auto& extra : extra_macros_) {
    if (extra.first == stage) {
      queue_macros(stage, {});
      return;
    }
  }
}

mta_session::step_reply mta_session::exchange(bool wants_reply) {
  step_reply reply;
  if (!flush()) {
    reply.error = "write to the filter failed";
    broken_ = true;
    return reply;
  }
  if (!wants_reply) {
    reply.letter = w::reply_continue;
    return reply;
  }
  auto waiting_since = std::chrono::steady_clock::now();
  struct wait_counter {
    double& total;
    std::chrono::steady_clock::time_point since;
    ~wait_counter() {
      total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
                   .count();
    }
  } count_wait{last_wait_ms_, waiting_since};
  w::packet packet;
  for (;;) {
    switch (reader_.next(packet, timeout_ms_)) {
      case w::read_status::ok: break;
      case w::read_status::closed:
        reply.error = "filter closed the connection";
        broken_ = true;
        return reply;
      case w::read_status::timeout:
        reply.error = "no reply within the timeout";
        broken_ = true;
        return reply;
      case w::read_status::oversize:
        reply.error = "reply packet of impossible length";
        broken_ = true;
        return reply;
      case w::read_status::error:
        reply.error = "read from the filter failed";
        broken_ = true;
        return reply;
    }
    tally_.add(packet.command);
    if (reply_log_ != nullptr) reply_log_->push_back({last_command_, packet.command, packet.data});
    if (packet.command == w::reply_progress || is_modification(packet.command)) continue;
    reply.letter = packet.command;
    reply.data = std::move(packet.data);
    return reply;
  }
}

bool mta_session::negotiate(std::string& error) {
  std::string data;
  w::append_u32(data, w::version);
  w::append_u32(data, w::all_actions);
  w::append_u32(data, w::all_protocol);
  queue(w::cmd_optneg, data);
  step_reply reply = exchange(true);
  if (reply.letter != w::reply_optneg || reply.data.size() < 12) {
    error = reply.error.empty() ? std::string("bad negotiation reply '") + reply.letter + "'"
                                : reply.error;
    return false;
  }
  actions_ = w::read_u32(reply.data, 4);
  protocol_ = w::read_u32(reply.data, 8);
  return true;
}

mta_session::opening mta_session::opening_reply(bool wants_reply, std::string& error,
                                                message_outcome& refused) {
  step_reply reply = exchange(wants_reply);
  if (reply.letter == 0) {
    error = reply.error;
    close_socket();
    return opening::failed;
  }
  if (reply.letter == w::reply_continue) return opening::go_on;
  refused.result = verdict_of(reply.letter, reply.data);
  quit();
  return opening::refused;
}

bool mta_session::open(const test_message& message, std::string& error, message_outcome& refused) {
  close_socket();
  broken_ = false;
  refused = {};
  refused.result = verdict::continued;
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) {
    error = "socket path too long";
    return false;
  }
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = "cannot connect to " + socket_path_ + ": " + error_text(errno);
    close_socket();
    return false;
  }
  reader_ = w::packet_reader(fd_);
  if (!negotiate(error)) {
    close_socket();
    return false;
  }
  if (!skips(w::no_connect)) {
    queue_macros(w::cmd_connect, {{"j", message.receiver_host},
                                  {"_", message.client_name + " [" + message.client_addr + "]"},
                                  {"{daemon_name}", "MTA-v4"},
                                  {"{if_name}", "localhost"},
                                  {"{if_addr}", "127.0.0.1"}});
    std::string data = nul_terminated(message.client_name);
    data.push_back(message.client_addr.find(':') != std::string::npos ? '6' : '4');
    data.push_back(static_cast<char>(message.client_port >> 8));
    data.push_back(static_cast<char>(message.client_port & 0xff));
    data += nul_terminated(message.client_addr);
    queue(w::cmd_connect, data);
    opening step = opening_reply(!skips(w::nr_connect), error, refused);
    if (step != opening::go_on) return step == opening::refused;
  }
  if (!skips(w::no_helo)) {
    queue_set_macros(w::cmd_helo);
    queue(w::cmd_helo, nul_terminated(message.helo));
    opening step = opening_reply(!skips(w::nr_helo), error, refused);
    if (step != opening::go_on) return step == opening::refused;
  }
  return true;
}

message_outcome mta_session::finish_early(const step_reply& reply) {
  message_outcome outcome;
  if (reply.letter == 0) {
    outcome.error = reply.error;
    return outcome;
  }
  outcome.result = verdict_of(reply.letter, reply.data);
  if (reply.letter == w::reply_conn_fail) broken_ = true;
  // Sendmail abandons the filter's view of the transaction the same way.
  queue(w::cmd_abort, "");
  if (!flush()) broken_ = true;
  return outcome;
}

message_outcome mta_session::send_message(const test_message& message, std::uint64_t sequence,
                                          bool abort_it) {
  return send_message(message, sequence, abort_it, drop_point::none);
}

message_outcome mta_session::drop_connection() {
  // Whatever was queued goes out first, so the filter is mid-message.
  flush();
  close_socket();
  message_outcome outcome;
  outcome.result = verdict::dropped;
  return outcome;
}

message_outcome mta_session::send_message(const test_message& message, std::uint64_t sequence,
                                          bool abort_it, drop_point drop) {
  last_wait_ms_ = 0;
  char queue_id[32];
  (void)std::snprintf(queue_id, sizeof queue_id, "4B%010llu",
                      static_cast<unsigned long long>(sequence));
  if (!skips(w::no_mail)) {
    queue_macros(w::cmd_mail, {{"i", queue_id},
                               {"{mail_mailer}", "smtp"},
                               {"{mail_host}", bare_host(message.sender)},
                               {"{mail_addr}", bare_address(message.sender)}});
    queue(w::cmd_mail, nul_terminated(message.sender));
    step_reply reply = exchange(!skips(w::nr_mail));
    if (reply.letter != w::reply_continue) return finish_early(reply);
  }
  if (client_delay_ms_ > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(client_delay_ms_));
  if (drop == drop_point::after_mail) return drop_connection();
  bool any_recipient = skips(w::no_rcpt);
  for (const std::string& recipient : message.recipients) {
    if (skips(w::no_rcpt)) break;
    queue_macros(w::cmd_rcpt, {{"{rcpt_mailer}", "local"},
                               {"{rcpt_host}", bare_host(recipient)},
                               {"{rcpt_addr}", bare_address(recipient)}});
    queue(w::cmd_rcpt, nul_terminated(recipient));
    step_reply reply = exchange(!skips(w::nr_rcpt));
    if (reply.letter == 0 || reply.letter == w::reply_discard) return finish_early(reply);
    if (reply.letter == w::reply_continue || reply.letter == w::reply_accept) any_recipient = true;
  }
  if (!any_recipient) {
    step_reply refused;
    refused.letter = w::reply_reject;
    return finish_early(refused);
  }
  if (drop == drop_point::after_rcpt) return drop_connection();
  if (abort_it) {
    queue(w::cmd_abort, "");
    message_outcome outcome;
    outcome.result = flush() ? verdict::aborted : verdict::failed;
    if (outcome.result == verdict::failed) {
      broken_ = true;
      outcome.error = "write to the filter failed";
    }
    return outcome;
  }
  if (!skips(w::no_data)) {
    queue_set_macros(w::cmd_data);
    queue(w::cmd_data, "");
    step_reply reply = exchange(!skips(w::nr_data));
    if (reply.letter != w::reply_continue) return finish_early(reply);
  }
  if (!skips(w::no_headers)) {
    const bool leading_space = skips(w::header_leading_space);
    for (const auto& [name, value] : message.headers) {
      queue(w::cmd_header,
            nul_terminated(name) + nul_terminated(leading_space ? " " + value : value));
      step_reply reply = exchange(!skips(w::nr_header));
      if (reply.letter != w::reply_continue) return finish_early(reply);
      if (drop == drop_point::in_headers) return drop_connection();
    }
  }
  if (!skips(w::no_eoh)) {
    queue_set_macros(w::cmd_end_of_headers);
    queue(w::cmd_end_of_headers, "");
    step_reply reply = exchange(!skips(w::nr_eoh));
    if (reply.letter != w::reply_continue) return finish_early(reply);
  }
  return body_and_end(message, drop);
}

message_outcome mta_session::body_and_end(const test_message& message, drop_point drop) {
  if (!skips(w::no_body)) {
    std::string_view body = message.body;
    while (!body.empty()) {
      std::size_t size = std::min({body.size(), message.chunk_size, w::max_data});
      queue(w::cmd_body, body.substr(0, size));
      body.remove_prefix(size);
      step_reply reply = exchange(!skips(w::nr_body));
      if (reply.letter == w::reply_skip) break;
      if (reply.letter != w::reply_continue) return finish_early(reply);
      if (drop == drop_point::in_body) return drop_connection();
    }
  }
  queue_macros(w::cmd_end_of_body, {{"{msg_id}", "<20240604101500.12345@pass.test>"}});
  queue(w::cmd_end_of_body, "");
  step_reply reply = exchange(true);
  message_outcome outcome;
  if (reply.letter == 0) {
    outcome.error = reply.error;
    return outcome;
  }
  outcome.result =
      reply.letter == w::reply_continue ? verdict::continued : verdict_of(reply.letter, reply.data);
  if (reply.letter == w::reply_conn_fail) broken_ = true;
  return outcome;
}

void mta_session::quit() {
  if (fd_ >= 0 && !broken_) {
    queue(w::cmd_quit, "");
    flush();
  }
  close_socket();
}
