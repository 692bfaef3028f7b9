#include "copyrules/load_copy_rules.hpp"

#include <libxml++/parsers/domparser.h>
#include <libxml/parser.h>

#include "copyrules/rule_walker.hpp"

rule_walk_state walk_copy_rule_file(const char* path) {
  xmlpp::DomParser parser;
  parser.set_validate(true);
  parser.set_substitute_entities(true);
  // The rule file and its DTD are local files; never fetch anything from
  // the network while loading.
  parser.set_parser_options(XML_PARSE_NONET);
  parser.parse_file(path);

  rule_walk_state state;
  if (parser) {
    const xmlpp::Document* document = parser.get_document();
    const xmlpp::Node* root = document != nullptr ? document->get_root_node() : nullptr;
    if (root != nullptr) walk_rule_node(state, root);
  }
  return state;
}

copy_rule_table read_copy_rule_file(const char* path) {
  return std::move(walk_copy_rule_file(path).rules);
}

void load_copy_rules(const char* path) {
  // The new rules are read aside and put in force in one step, so messages
  // ending meanwhile keep the old rules instead of seeing an empty or half
  // built table. A file that cannot be read leaves no rules in force.
  copy_rule_table rules;
  try {
    rules = read_copy_rule_file(path);
  } catch (...) {
    reset_copy_rules();
    throw;
  }
  publish_copy_rules(std::move(rules));
}
