// teslo_envrcpt: refusal of malformed recipients, the recipient whitelist,
// the per-recipient SPF Fail flag and the recorded recipients.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/message_fixture.hpp"
#include "connection/verdicts.hpp"
#include "spamconfig/test_settings.hpp"

namespace {

using strings = std::vector<std::string>;

const std::string refusal =
    "setreply 550 5.1.3 Recipient address does not conform to RFC-2821 syntax";

}  // namespace

using recipient_stage = message_stage;

TEST_F(recipient_stage, refuses_malformed_addresses_with_rfc2821_reply) {
  for (const char* argument : {"bob@example.net", "<bob>", "<>", "< bob@example.net>",
                               "<bob@example.net\t>", "<@>", "", "<a"}) {
    SCOPED_TRACE(argument);
    EXPECT_EQ(smtp.envrcpt({argument}), SMFIS_REJECT);
    EXPECT_EQ(smtp.take_changes(), strings{refusal});
  }
  EXPECT_TRUE(context->message->recipients.empty());
  EXPECT_TRUE(logs.lines().empty());
}

TEST_F(recipient_stage, records_valid_recipients_in_order_and_skips_refused_one) {
  EXPECT_EQ(smtp.envrcpt({"<Carol@Example.NET>"}), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.envrcpt({"<broken>"}), SMFIS_REJECT);
  EXPECT_EQ(smtp.envrcpt({"<dave@example.net>", "NOTIFY=NEVER"}), SMFIS_CONTINUE);
  EXPECT_EQ(context->message->recipients, (strings{"Carol@Example.NET", "dave@example.net"}));
  // Without a recipient whitelist the address keeps its case.
  EXPECT_STREQ(context->rcpt_addr, "dave@example.net");
  EXPECT_STREQ(context->rcpt_to, "<dave@example.net>");
}

TEST_F(recipient_stage, recorded_form_stops_at_first_closing_bracket) {
  EXPECT_EQ(smtp.envrcpt({"<a@b.example>x>"}), SMFIS_CONTINUE);
  EXPECT_EQ(context->message->recipients, strings{"a@b.example"});
  EXPECT_STREQ(context->rcpt_addr, "a@b.example>x");
}

TEST_F(recipient_stage, keeps_at_most_127_characters_of_argument) {
  std::string local(200, 'x');
  EXPECT_EQ(smtp.envrcpt({"<" + local + "@example.net>"}), SMFIS_REJECT);  // no ">" left
  EXPECT_EQ(std::string(context->rcpt_to).size(), 127u);
}

TEST_F(recipient_stage, whitelisted_recipient_makes_mail_exempt_and_is_not_recorded) {
  char text[] = "example.net";
  use_settings([&](spam_config_record& c) { c.whitelistto = owned_pattern_entry(text); });
  EXPECT_EQ(smtp.envrcpt({"<Bob@EXAMPLE.net>"}), SMFIS_CONTINUE);
  EXPECT_TRUE(exempt(*context));
  EXPECT_STREQ(context->rcpt_addr, "bob@example.net");
  EXPECT_TRUE(context->message->recipients.empty());
  EXPECT_EQ(smtp.envrcpt({"<carol@Other.example>"}), SMFIS_CONTINUE);
  EXPECT_STREQ(context->rcpt_addr, "carol@other.example");  // lower-cased for the query
  EXPECT_EQ(context->message->recipients, strings{"carol@Other.example"});
}

TEST_F(recipient_stage, spf_fail_raises_flag_of_spf_action_only_with_whitelist_and_refusefail) {
  struct row {
    check_action action;
    int refusefail;
    bool whitelist;
    int spf_result;
    uint8_t header, eject, quarantine;
  };
  const row rows[] = {
      {ACTION_EJECT, 1, true, 3, 0, 1, 0},      {ACTION_HEADER, 1, true, 3, 1, 0, 0},
      {ACTION_QUARANTINE, 1, true, 3, 0, 0, 1}, {ACTION_OFF, 1, true, 3, 0, 0, 0},
      {ACTION_EJECT, 0, true, 3, 0, 0, 0},      {ACTION_EJECT, 1, false, 3, 0, 0, 0},
      {ACTION_EJECT, 1, true, 4, 0, 0, 0},      {ACTION_EJECT, 1, true, 2, 0, 0, 0},
  };
  char text[] = "whitelisted.example";
  for (const auto& r : rows) {
    SCOPED_TRACE(static_cast<int>(&r - rows));
    context->spf_header = context->spf_eject = context->spf_quarantine = 0;
    use_settings([&](spam_config_record& c) {
      c.spf = r.action;
      c.refusefail = r.refusefail;
      c.whitelistto = r.whitelist ? owned_pattern_entry(text) : nullptr;
    });
    context->spf_result = r.spf_result;
    EXPECT_EQ(smtp.envrcpt({"<bob@example.net>"}), SMFIS_CONTINUE);
    EXPECT_EQ(context->spf_header, r.header);
    EXPECT_EQ(context->spf_eject, r.eject);
    EXPECT_EQ(context->spf_quarantine, r.quarantine);
  }
}

TEST_F(recipient_stage, whitelisted_recipient_raises_no_spf_flag) {
  char text[] = "example.net";
  use_settings([&](spam_config_record& c) {
    c.whitelistto = owned_pattern_entry(text);
    c.spf = ACTION_EJECT;
  });
  context->spf_result = 3;
  EXPECT_EQ(smtp.envrcpt({"<bob@example.net>"}), SMFIS_CONTINUE);
  EXPECT_EQ(context->spf_eject, 0);
  EXPECT_TRUE(exempt(*context));
}
