// The process-wide copy-rule table.
//
// Writer: the rule loader (start-up on the main thread, later the reload
// thread). Readers: the copying at end of message, on libmilter worker
// threads. A table is never changed after it is published: a load builds a
// new table aside and publishes it whole; each reader takes one snapshot and
// keeps it for the whole message, and a replaced table is freed when its last
// snapshot goes away. A private mutex covers only the taking of a snapshot
// and the swap of the pointer, never parsing or the copying itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

// Where a rule looks, read once from its <direction> text when the rule is
// added. The texts are matched exactly, in capitals.
enum class copy_direction {
  sender,                 // "S": one copy when the sender matches
  recipients,             // "R": one copy for every recipient that matches
  sender_and_recipients,  // "SR": both of the above
  recipients_if_sender,   // "SA": one copy for every recipient that matches,
                          // if the sender matches too
  never,                  // any other text: the rule is never applied
};

copy_direction parse_copy_direction(const std::string& text);

struct copy_rule {
  // `pattern` with ">" already appended; the direction parsed from its text.
  copy_rule(std::string pattern, std::string copy_address, std::string direction_as_written);

  std::string domain;          // pattern with ">" appended ("ALL" is held as "ALL>")
  std::string mailaddr;        // address that receives the copy
  copy_direction direction;    // parsed from direction_text
  std::string direction_text;  // as written (trimmed), for reports
  bool operator==(const copy_rule&) const = default;
};

// Rules in the order in which they completed while the file was walked.
using copy_rule_table = std::vector<copy_rule>;
using copy_rule_snapshot = std::shared_ptr<const copy_rule_table>;

// The table now in force; never null (empty before the first load).
copy_rule_snapshot current_copy_rules();

// Replaces the table in force with `table` in one step.
void publish_copy_rules(copy_rule_table table);

// Puts an empty table in force.
void reset_copy_rules();

// Appends the rule (domain + ">", mailaddr, direction parsed) to `table`.
// The texts come in the order domain, direction, mailaddr.
void add_copy_rule(copy_rule_table& table, const std::string& domain, const std::string& direction,
                   const std::string& mailaddr);
