#include "try/try_report.hpp"

#include "milterclient/milter_wire.hpp"

namespace {

namespace w = milter_wire;

// The NUL-terminated texts of a reply's data, after `skip` bytes.
std::vector<std::string> texts(const std::string& data, std::size_t skip = 0) {
  std::vector<std::string> parts;
  std::size_t start = skip;
  while (start < data.size()) {
    std::size_t end = data.find('\0', start);
    if (end == std::string::npos) end = data.size();
    parts.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string part(const std::vector<std::string>& parts, std::size_t i) {
  return i < parts.size() ? parts[i] : std::string();
}

// A folded value as Sendmail stores it: continuation lines on lines of their own.
std::string shown(const std::string& value) {
  std::string text;
  for (char c : value) {
    text += c;
    if (c == '\n') text += "                   ";
  }
  return text;
}

std::string ordinal(std::uint32_t n) {
  const char* suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th"
                       : n % 10 == 1                    ? "st"
                       : n % 10 == 2                    ? "nd"
                       : n % 10 == 3                    ? "rd"
                                                        : "th";
  return std::to_string(n) + suffix;
}

// Sendmail's own reply texts for a filter's reject and tempfail.
constexpr const char* reject_text = "550 5.7.1 Command rejected";
constexpr const char* tempfail_text = "451 4.3.2 Please try again later";
constexpr const char* connect_reject_text = "554 <host name> ESMTP not accepting messages";

struct stage_walk {
  stage_walk(const try_transcript& of, std::ostream& to) : transcript(of), out(to) {}

  const try_transcript& transcript;
  std::ostream& out;
  std::size_t rcpt_seen = 0;
  std::size_t header_seen = 0;
  std::size_t recipients_accepted = 0;
  std::string final_reply;  // set by a refusal that ends the message
  std::string quarantine;

  std::string stage_name(char command) {
    switch (command) {
      case w::cmd_connect: return "connect";
      case w::cmd_helo: return "HELO";
      case w::cmd_mail: return "MAIL FROM";
      case w::cmd_rcpt: return "RCPT TO " + part(transcript.recipients, rcpt_seen - 1);
      case w::cmd_data: return "DATA";
      case w::cmd_header: {
        if (header_seen == 0 || header_seen > transcript.headers.size()) return "header";
        return "header " + transcript.headers[header_seen - 1].first;
      }
      case w::cmd_end_of_headers: return "end of headers";
      case w::cmd_body: return "body";
      case w::cmd_end_of_body: return "end of message";
      default: return std::string("command '") + command + "'";
    }
  }

  // The SMTP reply a final reply letter gives, "" for continue.
  static std::string smtp_reply(const filter_reply& reply) {
    // Refused at connect, Sendmail greets with a refusal of its own.
    if (reply.command == w::cmd_connect && reply.letter == w::reply_reject) {
      return connect_reject_text;
    }
    switch (reply.letter) {
      case w::reply_reject: return reject_text;
      case w::reply_tempfail: return tempfail_text;
      case w::reply_replycode: return part(texts(reply.data), 0);
      default: return "";
    }
  }

  void modification(const filter_reply& reply) {
    std::vector<std::string> p = texts(reply.data);
    std::vector<std::string> indexed = texts(reply.data, 4);
    std::uint32_t index = w::read_u32(reply.data, 0);
    switch (reply.letter) {
      case w::reply_add_header:
        out << "  header added:    " << part(p, 0) << ": " << shown(part(p, 1)) << "\n";
        break;
      case w::reply_ins_header:
        out << "  header inserted: " << part(indexed, 0) << ": " << shown(part(indexed, 1))
            << " (at " << index << ")\n";
        break;
      case w::reply_chg_header:
        if (part(indexed, 1).empty()) {
          out << "  header removed:  " << part(indexed, 0) << " (" << ordinal(index) << ")\n";
        } else {
          out << "  header changed:  " << part(indexed, 0) << " (" << ordinal(index)
              << "): " << shown(part(indexed, 1)) << "\n";
        }
        break;
      case w::reply_add_rcpt:
      case w::reply_add_rcpt_par: out << "  recipient added: " << part(p, 0) << "\n"; break;
      case w::reply_del_rcpt: out << "  recipient removed: " << part(p, 0) << "\n"; break;
      case w::reply_chg_from: out << "  sender changed:  " << part(p, 0) << "\n"; break;
      case w::reply_repl_body:
        out << "  body replaced (" << reply.data.size() << " bytes)\n";
        break;
      case w::reply_quarantine:
        quarantine = part(p, 0);
        out << "  quarantined:     " << quarantine << "\n";
        break;
    }
  }

  void final_letter(const filter_reply& reply) {
    if (reply.command == w::cmd_rcpt) ++rcpt_seen;
    if (reply.command == w::cmd_header) ++header_seen;
    std::string smtp = smtp_reply(reply);
    std::string what;
    switch (reply.letter) {
      case w::reply_continue: what = "continue"; break;
      case w::reply_accept: what = "accept (no further checks)"; break;
      case w::reply_skip: what = "skip the rest of the body"; break;
      case w::reply_discard: what = "discard"; break;
      case w::reply_reject: what = "reject"; break;
      case w::reply_tempfail: what = "tempfail"; break;
      case w::reply_replycode: what = "reply"; break;
      default: what = std::string("reply '") + reply.letter + "'"; break;
    }
    // Replies to headers and body chunks that only continue say nothing.
    bool routine = reply.letter == w::reply_continue &&
                   (reply.command == w::cmd_header || reply.command == w::cmd_body);
    if (!routine) {
      out << stage_name(reply.command) << ": " << what;
      if (!smtp.empty()) out << ": " << smtp;
      out << "\n";
    }
    bool refused = reply.letter == w::reply_reject || reply.letter == w::reply_tempfail ||
                   reply.letter == w::reply_replycode;
    if (reply.command == w::cmd_rcpt) {
      if (!refused) ++recipients_accepted;
      return;  // a refused recipient leaves the others
    }
    if (refused && final_reply.empty()) final_reply = smtp;
    if (reply.letter == w::reply_discard && final_reply.empty()) {
      final_reply = "250 2.0.0 Message accepted for delivery (then discarded by the filter)";
    }
  }
};

bool is_final(char letter) {
  switch (letter) {
    case w::reply_continue:
    case w::reply_accept:
    case w::reply_skip:
    case w::reply_discard:
    case w::reply_reject:
    case w::reply_tempfail:
    case w::reply_replycode: return true;
    default: return false;
  }
}

}  // namespace

try_verdict write_try_report(const try_transcript& transcript, std::ostream& out) {
  stage_walk walk(transcript, out);
  bool reached_end = false;
  for (const filter_reply& reply : transcript.replies) {
    if (reply.letter == w::reply_optneg || reply.letter == w::reply_progress) continue;
    if (is_final(reply.letter)) {
      walk.final_letter(reply);
      if (reply.command == w::cmd_end_of_body) reached_end = true;
    } else {
      walk.modification(reply);
    }
  }
  std::string reply = walk.final_reply;
  if (reply.empty() && !reached_end && walk.rcpt_seen > 0 && walk.recipients_accepted == 0) {
    reply = "no recipient accepted: Sendmail answers DATA with \"503 5.0.0 Need RCPT (recipient)\"";
  }
  if (reply.empty()) reply = "250 2.0.0 Message accepted for delivery";
  if (!walk.quarantine.empty() && walk.final_reply.empty()) {
    reply += " (held in quarantine: " + walk.quarantine + ")";
  }
  out << "Sendmail would reply: " << reply << "\n";
  if (!walk.final_reply.empty() || !reply.starts_with("250")) return try_verdict::refused;
  if (!walk.quarantine.empty()) return try_verdict::quarantined;
  return try_verdict::accepted;
}
