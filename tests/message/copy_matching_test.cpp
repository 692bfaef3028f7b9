// copy_phase matches each rule against the normalised sender and recipients
// without building them in the common cases; whatever the address, the
// decision must be the one the full normalisation gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "copyrules/copy_rule_table.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "message/copying.hpp"

namespace {

const char* const receiving_host = "mx.test";

// Envelope texts as they may be recorded: sender verbatim, recipients with
// their brackets stripped (or not, when the MTA sent odd ones).
const std::vector<std::string> addresses = {
    "a@b.test",  "<a@b.test>", "<a@b.test> ",  " <a@b.test>",  "a@b.test ",  "\ta@b.test",
    "<a@b.test", "a@b.test>",  "<local>",      "local",        "",           "<>",
    "<@b.test>", "@b.test",    "<x@y.test>\n", "<a@b.test> x", "a b@c.test", "<<a@b.test>>",
};

// Does a rule for `pattern` copy a message with `sender` (direction S) or
// with the one recipient `recipient` (direction R)?
bool copied(const std::string& pattern, const char* direction, const std::string& sender,
            const std::vector<std::string>& recipients) {
  publish_copy_rules({{pattern, "copy@archive.test", direction}});
  fake_milter::log_capture logs;
  fake_milter::session smtp(filter_description);
  smtp.macros["i"] = "Q1";
  smtp.macros["j"] = receiving_host;
  smtp.connect("client.test", "192.0.2.7");
  smtp.envfrom({"<placeholder@x.test>"});
  message_record* message = smtp.context<connection_context>()->message;
  message->sender = sender;
  message->recipients = recipients;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  reset_copy_rules();
  for (const std::string& change : smtp.changes) {
    if (change == "addrcpt copy@archive.test") return true;
  }
  return false;
}

}  // namespace

TEST(copy_matching, sender_rules_decide_as_on_the_normalised_sender) {
  for (const std::string& sender : addresses) {
    std::string normal = normalise_sender(sender, receiving_host);
    for (const std::string& other : addresses) {
      // Raw patterns too: they tell a text that was trimmed from one that was
      // not.
      for (const std::string& pattern : {other, normalise_sender(other, receiving_host)}) {
        bool want = normal.find(pattern) != std::string::npos;
        EXPECT_EQ(copied(pattern, "S", sender, {}), want)
            << "sender '" << sender << "' pattern '" << pattern << "'";
      }
    }
  }
}

TEST(copy_matching, recipient_rules_decide_as_on_the_normalised_recipient) {
  for (const std::string& recipient : addresses) {
    std::string normal = normalise_recipient(recipient, receiving_host);
    for (const std::string& other : addresses) {
      // Raw patterns too: they tell a text that was trimmed from one that was
      // not.
      for (const std::string& pattern : {other, normalise_recipient(other, receiving_host)}) {
        bool want = normal.find(pattern) != std::string::npos;
        EXPECT_EQ(copied(pattern, "R", "<s@x.test>", {recipient}), want)
            << "recipient '" << recipient << "' pattern '" << pattern << "'";
      }
    }
  }
}

TEST(copy_matching, every_recipient_is_matched_on_its_own_form) {
  // The scratch text of one recipient must not leak into the next.
  std::vector<std::string> recipients = {"long.name@example.com", "x@y.test", "<z@example.com>"};
  EXPECT_TRUE(copied("<x@y.test>", "R", "<s@x.test>", recipients));
  EXPECT_FALSE(copied("example.com>example.com", "R", "<s@x.test>", recipients));
  EXPECT_TRUE(copied("<z@example.com>", "R", "<s@x.test>", recipients));
}
