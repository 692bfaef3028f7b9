#include "copyrules/rule_walker.hpp"

#include <libxml++/nodes/cdatanode.h>
#include <libxml++/nodes/commentnode.h>
#include <libxml++/nodes/contentnode.h>
#include <libxml++/nodes/textnode.h>

#include "common/trim.hpp"

namespace {

// Stores the text under the field that the current element names; text under
// any other name is dropped.
void take_text(rule_walk_state& state, const std::string& content, int line) {
  std::string* field = nullptr;
  int* field_line = nullptr;
  if (state.current_element == "domain") {
    field = &state.pending_domain;
    field_line = &state.domain_line;
  } else if (state.current_element == "mailaddr") {
    field = &state.pending_mailaddr;
    field_line = &state.mailaddr_line;
  } else if (state.current_element == "direction") {
    field = &state.pending_direction;
    field_line = &state.direction_line;
  }
  if (field == nullptr) {
    state.notes.push_back({rule_walk_note::text_dropped, line, state.current_element, content});
    return;
  }
  if (!field->empty()) {
    state.notes.push_back(
        {rule_walk_note::field_replaced, *field_line, state.current_element, *field});
  }
  *field = content;
  *field_line = line;
}

// Completes a rule once all three fields are waiting.
void complete_rule(rule_walk_state& state, int line) {
  if (state.pending_domain.empty() || state.pending_mailaddr.empty() ||
      state.pending_direction.empty()) {
    return;
  }
  trim(state.pending_domain, trim_chars);
  trim(state.pending_mailaddr, trim_chars);
  trim(state.pending_direction, trim_chars);
  add_copy_rule(state.rules, state.pending_domain, state.pending_direction, state.pending_mailaddr);
  state.rule_lines.push_back(line);
  state.pending_domain.clear();
  state.pending_mailaddr.clear();
  state.pending_direction.clear();
}

}  // namespace

void walk_rule_node(rule_walk_state& state, const xmlpp::Node* node) {
  if (node == nullptr) return;
  const auto* text = dynamic_cast<const xmlpp::TextNode*>(node);
  if (text != nullptr && text->is_white_space()) return;

  // Elements and processing instructions (named by their target) become the
  // current element; a CDATA section has no name and changes nothing.
  bool is_comment = dynamic_cast<const xmlpp::CommentNode*>(node) != nullptr;
  if (text == nullptr && !is_comment) {
    std::string name = node->get_name();
    if (!name.empty()) state.current_element = std::move(name);
  }

  if (text != nullptr) {
    take_text(state, text->get_content(), node->get_line());
    complete_rule(state, node->get_line());
  }
  if (const auto* cdata = dynamic_cast<const xmlpp::CdataNode*>(node); cdata != nullptr) {
    state.notes.push_back({rule_walk_note::cdata_ignored, node->get_line(), state.current_element,
                           cdata->get_content()});
  }

  // Text, comments, CDATA sections and processing instructions have no
  // children worth walking.
  if (dynamic_cast<const xmlpp::ContentNode*>(node) != nullptr) return;
  for (const xmlpp::Node* child : node->get_children()) {
    walk_rule_node(state, child);
  }
}
