#include "checker/rule_report.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <libxml/xmlerror.h>
#include <vector>

#include "checker/dtd_fallback.hpp"
#include "checker/report_text.hpp"
#include "common/error_text.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "copyrules/rule_walker.hpp"
#include "message/copying.hpp"  // copy_address_limit, the limit the copying applies

namespace {

// The domain as written in the file (the loader appended ">").
std::string written_domain(const copy_rule& rule) {
  std::string domain = rule.domain;
  if (!domain.empty() && domain.back() == '>') domain.pop_back();
  return domain;
}

std::string location(const std::string& path, int line) {
  return line > 0 ? path + ":" + std::to_string(line) + ": " : path + ": ";
}

const char* note_text(rule_walk_note::kind_type kind) {
  switch (kind) {
    case rule_walk_note::text_dropped:
      return "is ignored: only <domain>, <mailaddr> and "
             "<direction> are read";
    case rule_walk_note::cdata_ignored:
      return "is ignored: CDATA sections are never read, "
             "write the text plainly";
    case rule_walk_note::field_replaced:
      return "is replaced by a later one before its rule "
             "completes";
  }
  return "";
}

// Text the walk set aside; each is a line teslo ignores.
std::size_t write_notes(const std::string& path, const rule_walk_state& walk, std::ostream& out) {
  for (const rule_walk_note& note : walk.notes) {
    std::string what = note.kind == rule_walk_note::field_replaced
                           ? "<" + note.element + "> " + quoted(note.text, 60)
                           : "text " + quoted(note.text, 60) + " under <" + note.element + ">";
    if (note.kind == rule_walk_note::cdata_ignored) what = "CDATA " + quoted(note.text, 60);
    out << location(path, note.line) << what << " " << note_text(note.kind) << "\n";
  }
  return walk.notes.size();
}

// Fields still waiting at the end of the file complete no rule.
std::size_t write_pending(const std::string& path, const rule_walk_state& walk, std::ostream& out) {
  struct field {
    const char* name;
    const std::string& value;
    int line;
  };
  const field fields[] = {{"domain", walk.pending_domain, walk.domain_line},
                          {"mailaddr", walk.pending_mailaddr, walk.mailaddr_line},
                          {"direction", walk.pending_direction, walk.direction_line}};
  std::string missing;
  for (const field& f : fields) {
    if (!f.value.empty()) continue;
    missing += std::string(missing.empty() ? "" : " or ") + "<" + f.name + ">";
  }
  std::size_t count = 0;
  for (const field& f : fields) {
    if (f.value.empty()) continue;
    out << location(path, f.line) << "<" << f.name << "> " << quoted(f.value, 60)
        << " completes no rule: no " << missing << " follows it\n";
    ++count;
  }
  return count;
}

// Collects what libxml2 reports outside the parser's exception (errors of
// well-formedness go to its generic handler, by default standard error),
// for as long as the object lives. libxml2 keeps the handler per thread.
class parser_messages {
 public:
  parser_messages() { xmlSetGenericErrorFunc(this, &parser_messages::collect); }
  ~parser_messages() { xmlSetGenericErrorFunc(nullptr, nullptr); }
  parser_messages(const parser_messages&) = delete;
  parser_messages& operator=(const parser_messages&) = delete;

  const std::string& text() const { return text_; }

 private:
  [[gnu::format(printf, 2, 3)]] static void collect(void* self, const char* format, ...) {
    char piece[1024];
    va_list arguments;
    va_start(arguments, format);
    (void)std::vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    static_cast<parser_messages*>(self)->text_ += piece;
  }

  std::string text_;
};

// `text` with empty lines dropped and every line ended.
std::string without_blank_lines(const std::string& text) {
  std::string result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) result += text.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return result;
}

// The reason `path` cannot be read as a file, if it cannot ("No such file or
// directory", "Is a directory"); the parser's own text for these is only a
// raw I/O warning.
std::optional<std::string> unreadable_reason(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return error_text(errno);
  struct stat status {};
  bool directory = fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  close(fd);
  if (directory) return error_text(EISDIR);
  return std::nullopt;
}

}  // namespace

std::string describe_rule(const copy_rule& rule) {
  switch (rule.direction) {
    case copy_direction::sender: return "a copy once when the sender matches";
    case copy_direction::recipients: return "a copy for every recipient that matches";
    case copy_direction::sender_and_recipients:
      return "a copy when the sender matches and one for every recipient that matches";
    case copy_direction::recipients_if_sender:
      return "a copy for every recipient that matches, if the sender matches too";
    case copy_direction::never: break;
  }
  return "no copy ever";
}

std::optional<std::string> rule_never_fires(const copy_rule& rule) {
  if (rule.direction == copy_direction::never) {
    return "direction " + quoted(rule.direction_text, 20) +
           " is not S, R, SR or SA (exactly, in capitals)";
  }
  if (rule.mailaddr.size() > copy_address_limit) {
    return "mailaddr has " + std::to_string(rule.mailaddr.size()) + " characters, more than " +
           std::to_string(copy_address_limit) +
           ": a message that the rule matches is accepted without this rule's copy and "
           "without those of every later rule";
  }
  return std::nullopt;
}

check_status check_copy_rule_file(const std::string& path, std::ostream& out, bool for_reload) {
  if (auto why = unreadable_reason(path)) {
    out << path << ": cannot read: " << *why << " (teslo would load no copy rule)\n";
    return check_status::unreadable;
  }
  rule_walk_state walk;
  parser_messages messages;
  dtd_fallback dtd(path);
  try {
    walk = walk_copy_rule_file(path.c_str());
  } catch (const std::exception& error) {
    out << path << ": XML error, teslo would load no copy rule:\n"
        << without_blank_lines(messages.text() + error.what());
    return check_status::unreadable;
  }
  for (const dtd_fallback::substitution& used : dtd.substitutions()) {
    out << path << ": its DTD " << used.named << " does not exist (yet); checked against "
        << used.used << " beside the file instead\n";
  }

  std::size_t problems = 0;
  for (std::size_t i = 0; i < walk.rules.size(); ++i) {
    const copy_rule& rule = walk.rules[i];
    const std::string where = location(path, i < walk.rule_lines.size() ? walk.rule_lines[i] : 0);
    const std::string number = "rule " + std::to_string(i + 1);
    out << where << number << ": domain " << quoted(written_domain(rule)) << ", mailaddr "
        << quoted(rule.mailaddr) << ", direction " << quoted(rule.direction_text, 20) << ": "
        << describe_rule(rule) << "\n";
    if (auto why = rule_never_fires(rule)) {
      out << where << number << " can never fire: " << *why << "\n";
      ++problems;
    } else if (rule.domain.find("ALL>") != std::string::npos) {
      const std::string written = written_domain(rule);
      out << where << number << " matches every address (its domain "
          << (written == "ALL"           ? "is ALL"
              : written.ends_with("ALL") ? "ends in \"ALL\""
                                         : "contains \"ALL>\"")
          << ")\n";
    }
  }
  problems += write_notes(path, walk, out);
  problems += write_pending(path, walk, out);
  if (for_reload && walk.rules.empty()) {
    out << path << ": no copy rule: a reload would drop every rule in force "
        << "(restart teslo to run without copy rules)\n";
    ++problems;
  }
  out << path << ": " << counted(walk.rules.size(), "copy rule", "copy rules") << ", "
      << counted(problems, "problem", "problems") << "\n";
  return problems == 0 ? check_status::clean : check_status::ignored;
}
