#include "mtaconfig/sendmail_cf.hpp"

#include <string>
#include <syslog.h>

#include "common/log_sink.hpp"
#include "common/text.hpp"
#include "common/trim.hpp"
#include "mtaconfig/file_rewrite.hpp"

namespace {

constexpr const char* filter_list_option = "O InputMailFilters";
constexpr const char* filter_list_assignment = "O InputMailFilters=";
constexpr const char* filter_list_comment = "# Input mail filters";
constexpr const char* milter_options_comment = "# Milter options";
constexpr const char* macro_option = "O Milter.macros";
constexpr const char* helo_macro_option = "O Milter.macros.helo";
constexpr const char* sender_macro_option = "O Milter.macros.envfrom";
constexpr const char* recipient_macro_option = "O Milter.macros.envrcpt";
constexpr const char* definitions_heading = "MAIL FILTER DEFINITIONS";

constexpr const char* connect_macros =
    "O Milter.macros.connect=j, _, {daemon_name}, {if_name}, {if_addr}";
constexpr const char* helo_macros =
    "O Milter.macros.helo={tls_version}, {cipher}, {cipher_bits}, {cert_subject}, {cert_issuer}, "
    "{verify}";
constexpr const char* sender_macros =
    "O Milter.macros.envfrom=i, {auth_type}, {auth_authen}, {auth_ssf}, {auth_author}, "
    "{mail_mailer},  {mail_host}, {mail_addr}, {msg_size}";
constexpr const char* recipient_macros =
    "O Milter.macros.envrcpt={rcpt_mailer}, {rcpt_host}, {rcpt_addr}";

// What the scan pass finds; the two pending marks track the rewrite.
struct install_marks {
  bool installed = false;
  bool other_filter_list = false;
  bool sender_macros_present = false;
  bool recipient_macros_present = false;
  bool definition_present = false;
  bool filter_list_pending = true;
  bool definition_pending = true;
};

void scan_line(install_marks& marks, const std::string& line) {
  if (line.starts_with(filter_list_option)) {
    if (contains(line, "TESLO")) {
      marks.installed = true;
    } else {
      marks.other_filter_list = true;
    }
  }
  if (line.starts_with(sender_macro_option)) marks.sender_macros_present = true;
  if (line.starts_with(recipient_macro_option)) marks.recipient_macros_present = true;
  if (line.starts_with(filter_entry::definition_start.view())) marks.definition_present = true;
}

// Appends a macro to an option line that lacks it, after ", " (or directly
// after a trailing comma).
void ensure_macro(std::string& line, const char* macro) {
  if (contains(line, macro)) return;
  if (line.empty() || line.back() != ',') line += ", ";
  line += macro;
}

// Writes one line of the new version (and whatever goes after it).
void rewrite_line(install_marks& marks, std::string& line, file_rewrite& rewrite) {
  if (contains(line, filter_list_comment) && marks.filter_list_pending &&
      !marks.other_filter_list) {
    rewrite.write_line(line);
    for (const char* added : {"O InputMailFilters=TESLO", milter_options_comment, connect_macros,
                              helo_macros, sender_macros, recipient_macros}) {
      rewrite.write_line(added);
    }
    marks.sender_macros_present = true;
    marks.recipient_macros_present = true;
    marks.filter_list_pending = false;
  } else if (line.starts_with(filter_list_assignment) && marks.filter_list_pending &&
             marks.other_filter_list) {
    if (line.back() != ',') line += ',';
    line += "TESLO";
    rewrite.write_line(line);
    if (!marks.sender_macros_present) {
      rewrite.write_line(sender_macros);
      marks.sender_macros_present = true;
    }
    if (!marks.recipient_macros_present) {
      rewrite.write_line(recipient_macros);
      marks.recipient_macros_present = true;
    }
    marks.filter_list_pending = false;
  } else if (line.starts_with(sender_macro_option)) {
    ensure_macro(line, "{mail_addr}");
    ensure_macro(line, "{msg_size}");
    rewrite.write_line(line);
  } else if (line.starts_with(helo_macro_option)) {
    ensure_macro(line, "{verify}");
    rewrite.write_line(line);
  } else if (line.starts_with(recipient_macro_option)) {
    ensure_macro(line, "{rcpt_addr}");
    rewrite.write_line(line);
  } else if (contains(line, definitions_heading)) {
    rewrite.write_line(line);
    if (!marks.definition_present && marks.definition_pending) {
      rewrite.write_line(filter_entry::definition.c_str());
      marks.definition_pending = false;
    }
  } else {
    rewrite.write_line(line);
  }
}

// Takes the filter out of a filter-list line. True when the line is to be
// kept (it still names another filter).
bool remove_from_filter_list(std::string& line) {
  std::string::size_type first = line.find("TESLO");
  if (first != std::string::npos) line.erase(first, contains(line, "TESLO,") ? 6 : 5);
  if (!line.empty() && line.back() == ',') line.pop_back();
  trim_right(line, trim_chars);
  return line != filter_list_assignment;
}

struct removal_marks {
  bool list_dropped = false;
  bool list_retained = false;
};

bool drop_on_removal(const removal_marks& marks, const std::string& line) {
  return (line.starts_with(milter_options_comment) && marks.list_dropped) ||
         (line.starts_with(macro_option) && !marks.list_retained) ||
         contains(line, filter_entry::equates.view()) ||
         line == filter_entry::old_definition.view();
}

// Puts the new version in place; an incomplete one never replaces the file.
void replace_cf(file_rewrite& rewrite) {
  if (!rewrite.replace()) log_line(LOG_ERR, "Sendmail.cf replace error");
}

}  // namespace

void install_cf_entry(const char* cf_path) {
  file_rewrite rewrite(cf_path);
  if (!rewrite.source_open() || !rewrite.temp_open()) {
    log_line(LOG_ERR, "can not milter configuraiton");
    return;
  }
  install_marks marks;
  std::string line;
  while (rewrite.read_line(line)) scan_line(marks, line);
  // Already listed: the file stays as it is.
  if (marks.installed) return;

  rewrite.rewind();
  while (rewrite.read_line(line)) rewrite_line(marks, line, rewrite);
  replace_cf(rewrite);
}

void remove_cf_entry(const char* cf_path) {
  file_rewrite rewrite(cf_path);
  if (!rewrite.source_open() || !rewrite.temp_open()) {
    log_line(LOG_ERR, "sendmail.cf configuration error");
    return;
  }
  removal_marks marks;
  std::string line;
  while (rewrite.read_line(line)) {
    if (line.starts_with(filter_list_option)) {
      if (remove_from_filter_list(line)) {
        rewrite.write_line(line);
        marks.list_retained = true;
      } else {
        marks.list_dropped = true;
      }
    } else if (!drop_on_removal(marks, line)) {
      rewrite.write_line(line);
    }
  }
  replace_cf(rewrite);
}
