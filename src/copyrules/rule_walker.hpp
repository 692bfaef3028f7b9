// The walk over a parsed copy-rule document that collects the rules.
//
// Called by the rule loader only, on the thread that loads (start-up or the
// reload thread). The state belongs to one load, so two loads never share
// pending values. No log lines.
//
// The file format is free-form: only the elements "domain", "mailaddr" and
// "direction" matter. A text node belongs to the element (or processing
// instruction) most recently entered in document order, not necessarily its
// parent; a rule completes at the text that supplies its last missing field,
// and a field repeated before that replaces the earlier value. Text that is
// dropped or replaced is noted in the state with its line.
#pragma once

#include <string>
#include <vector>

#include "copyrules/copy_rule_table.hpp"

namespace xmlpp {
class Node;
}

// Text that the walk set aside, kept for the configuration checker; the
// daemon's loads never look at it.
struct rule_walk_note {
  enum kind_type { text_dropped, cdata_ignored, field_replaced };
  kind_type kind;
  int line;             // source line of the node (0 when unknown)
  std::string element;  // the current element the text fell under
  std::string text;     // the text set aside (for field_replaced: the old value)
};

struct rule_walk_state {
  std::string current_element;  // last element or processing instruction entered
  std::string pending_domain;
  std::string pending_mailaddr;
  std::string pending_direction;
  copy_rule_table rules;  // completed rules, in completion order

  // Where things came from, for the configuration checker.
  std::vector<int> rule_lines;  // per rule: line of the text that completed it
  int domain_line = 0;          // line of each pending value
  int mailaddr_line = 0;
  int direction_line = 0;
  std::vector<rule_walk_note> notes;
};

// Handles `node` and, unless it is a content node, its children, depth-first
// in document order.
void walk_rule_node(rule_walk_state& state, const xmlpp::Node* node);
