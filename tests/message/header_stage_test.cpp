// teslo_header and teslo_eoh: the kept Subject, the undisclosed-recipients
// check, the To/CC-missing check and the reset of the body line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <syslog.h>
#include <vector>

#include "message/message_fixture.hpp"

namespace {

using strings = std::vector<std::string>;

const char* const not_filled =
    "To: and CC: are not filled: client.example, <alice@example.org> -> <bob@example.net>";
const char* const undisclosed =
    "undisclosed recipients: client.example, <alice@example.org> -> <bob@example.net>";

}  // namespace

using header_stage = message_stage;

TEST_F(header_stage, keeps_first_subject_only_while_tagsubject_is_on) {
  EXPECT_EQ(smtp.header("Subject", "Hello"), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.header("SUBJECT", "Second"), SMFIS_CONTINUE);
  ASSERT_NE(context->subject, nullptr);
  EXPECT_STREQ(context->subject, "Hello");

  start_message();
  std::free(context->subject);
  context->subject = nullptr;
  use_settings([&](spam_config_record& c) { c.tagsubject = 0; });
  EXPECT_EQ(smtp.header("Subject", "Hello"), SMFIS_CONTINUE);
  EXPECT_EQ(context->subject, nullptr);
}

TEST_F(header_stage, undisclosed_to_header_acts_by_tocheck) {
  struct row {
    check_action action;
    sfsistat status;
    uint8_t header, quarantine;
    strings changes;
    bool logged;
  };
  const row rows[] = {
      {ACTION_OFF, SMFIS_CONTINUE, 0, 0, {}, false},
      {ACTION_HEADER, SMFIS_CONTINUE, 1, 0, {}, false},
      {ACTION_QUARANTINE, SMFIS_CONTINUE, 0, 1, {}, false},
      {ACTION_EJECT,
       SMFIS_REJECT,
       0,
       0,
       {"setreply 554 5.7.1 Message for undisclosed recipients"},
       true},
  };
  for (const auto& r : rows) {
    for (const char* value :
         {"undisclosed-recipients:;", "UNDISCLOSED-RECIPIENTS:;", "Unlisted-Recipients: ;"}) {
      SCOPED_TRACE(std::string(value) + " action " + std::to_string(r.action));
      use_settings([&](spam_config_record& c) { c.tocheck = r.action; });
      context->to_header = context->to_quarantine = context->to_eject = 0;
      context->to_seen = 0;
      logs.clear();
      EXPECT_EQ(smtp.header("To", value), r.status);
      EXPECT_EQ(context->to_header, r.header);
      EXPECT_EQ(context->to_quarantine, r.quarantine);
      EXPECT_EQ(context->to_eject, 0);
      EXPECT_EQ(context->to_seen, 0u);  // never counted as a To
      EXPECT_EQ(smtp.take_changes(), r.changes);
      EXPECT_EQ(logs.contains(LOG_NOTICE, undisclosed), r.logged);
    }
  }
}

TEST_F(header_stage, ordinary_to_and_mixed_case_cc_are_seen) {
  EXPECT_EQ(smtp.header("to", "bob@example.net"), SMFIS_CONTINUE);
  EXPECT_EQ(context->to_seen, 1u);
  EXPECT_EQ(smtp.header("Cc", "carol@example.net"), SMFIS_CONTINUE);
  EXPECT_EQ(context->cc_seen, 1u);
}

TEST_F(header_stage, missing_to_and_cc_logs_always_and_flags_by_tocheck) {
  struct row {
    check_action action;
    uint8_t header, eject, quarantine;
  };
  const row rows[] = {{ACTION_OFF, 0, 0, 0},
                      {ACTION_HEADER, 1, 0, 0},
                      {ACTION_EJECT, 0, 1, 0},
                      {ACTION_QUARANTINE, 0, 0, 1}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.action);
    use_settings([&](spam_config_record& c) { c.tocheck = r.action; });
    context->to_header = context->to_eject = context->to_quarantine = 0;
    logs.clear();
    EXPECT_EQ(smtp.eoh(), SMFIS_CONTINUE);
    EXPECT_EQ(logs.lines(), (std::vector<fake_milter::logged_line>{{LOG_NOTICE, not_filled}}));
    EXPECT_EQ(context->to_header, r.header);
    EXPECT_EQ(context->to_eject, r.eject);
    EXPECT_EQ(context->to_quarantine, r.quarantine);
    EXPECT_TRUE(smtp.take_changes().empty());
  }
}

TEST_F(header_stage, cc_alone_or_to_alone_satisfies_end_of_headers) {
  use_settings([&](spam_config_record& c) { c.tocheck = ACTION_EJECT; });
  smtp.header("Cc", "carol@example.net");
  EXPECT_EQ(smtp.eoh(), SMFIS_CONTINUE);
  start_message();
  context->to_seen = context->cc_seen = 0;
  smtp.header("To", "bob@example.net");
  EXPECT_EQ(smtp.eoh(), SMFIS_CONTINUE);
  EXPECT_EQ(context->to_eject, 0);
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(header_stage, undisclosed_only_to_under_header_is_also_caught_at_end_of_headers) {
  use_settings([&](spam_config_record& c) { c.tocheck = ACTION_HEADER; });
  EXPECT_EQ(smtp.header("To", "undisclosed-recipients:;"), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.eoh(), SMFIS_CONTINUE);
  EXPECT_EQ(context->to_header, 1);
  EXPECT_TRUE(logs.contains(LOG_NOTICE, not_filled));
}

TEST_F(header_stage, end_of_headers_empties_body_line) {
  context->body_line_len = 17;
  context->body_line[0] = 'x';
  smtp.eoh();
  EXPECT_EQ(context->body_line_len, 0);
  EXPECT_EQ(context->body_line[0], '\0');
}
