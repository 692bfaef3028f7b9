#include "copyrules/copy_rule_table.hpp"

#include <mutex>
#include <utility>

namespace {

copy_rule_snapshot make_snapshot(copy_rule_table table) {
  return std::make_shared<const copy_rule_table>(std::move(table));
}

// The published table. The mutex guards only the pointer itself: a reader
// holds it just long enough to take a counted reference, the writer just
// long enough to swap in a table built beforehand. The reference count keeps
// a replaced table alive for readers that still hold it; the last of them
// frees it, outside the lock.
std::mutex rules_lock;
// NOLINTNEXTLINE(cert-err58-cpp): out of memory before main() ends the process, as it should
copy_rule_snapshot rules_in_force = make_snapshot({});

}  // namespace

copy_rule_snapshot current_copy_rules() {
  std::lock_guard<std::mutex> hold(rules_lock);
  return rules_in_force;
}

void publish_copy_rules(copy_rule_table table) {
  copy_rule_snapshot fresh = make_snapshot(std::move(table));
  {
    std::lock_guard<std::mutex> hold(rules_lock);
    rules_in_force.swap(fresh);
  }
  // `fresh` now holds the old table; it is released here, outside the lock.
}

void reset_copy_rules() { publish_copy_rules({}); }

copy_direction parse_copy_direction(const std::string& text) {
  if (text == "S") return copy_direction::sender;
  if (text == "R") return copy_direction::recipients;
  if (text == "SR") return copy_direction::sender_and_recipients;
  if (text == "SA") return copy_direction::recipients_if_sender;
  return copy_direction::never;
}

copy_rule::copy_rule(std::string pattern, std::string copy_address,
                     std::string direction_as_written)
    : domain(std::move(pattern)),
      mailaddr(std::move(copy_address)),
      direction(parse_copy_direction(direction_as_written)),
      direction_text(std::move(direction_as_written)) {}

void add_copy_rule(copy_rule_table& table, const std::string& domain, const std::string& direction,
                   const std::string& mailaddr) {
  table.emplace_back(domain + ">", mailaddr, direction);
}
