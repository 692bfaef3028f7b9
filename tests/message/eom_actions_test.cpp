// teslo_eom's spam phase: scanner and Received-SPF headers, marking headers,
// the one rejection, the subject tag and the quarantine requests.
#include <gtest/gtest.h>

#include <string>
#include <syslog.h>
#include <vector>

#include "message/eom_actions.hpp"
#include "message/message_fixture.hpp"

namespace {

using strings = std::vector<std::string>;
const std::string scan_header = "addheader X-Mail-Scan-By: KORVAL ver 0.2a5";

}  // namespace

using eom_actions = message_stage;

TEST_F(eom_actions, exempt_message_gets_no_spam_action) {
  use_settings([&](spam_config_record& c) { c.spf = ACTION_EJECT; });
  context->message_exempt = 1;
  context->spf_eject = context->dnsbl_header = context->harmful_quarantine = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_TRUE(smtp.take_changes().empty());
}

TEST_F(eom_actions, clean_message_gets_scanner_header_and_spf_trace_only_when_spf_on) {
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(), strings{scan_header});
  use_settings([&](spam_config_record& c) { c.spf = ACTION_HEADER; });
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  auto changes = smtp.take_changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0], scan_header);
  EXPECT_EQ(changes[1].rfind("addheader Received-SPF: None (", 0), 0u);
}

TEST_F(eom_actions, received_spf_value_follows_result) {
  copy_bounded(context->client_addr, "192.0.2.7");
  const std::string tail =
      ")\n\treceiver=mx.example.net; client-ip=192.0.2.7;\n\tenvelope-from=<alice@example.org>; "
      "helo=mx.example.org;";
  struct row {
    int32_t result;
    std::string want;
  };
  const row rows[] = {
      {2,
       "Pass (mx.example.net: domain of alice@example.org\n\tdesignates 192.0.2.7 as permitted "
       "sender" +
           tail},
      {3,
       "Fail (mx.example.net: domain of alice@example.org\n\tdoes not designate 192.0.2.7 as "
       "permitted sender" +
           tail},
      {4,
       "SoftFail (mx.example.net: transitioning domain of alice@example.org\n\tdoes not designate "
       "192.0.2.7 as permitted sender" +
           tail},
      {1,
       "Neutral (mx.example.net: 192.0.2.7 is neither permitted\n\tnor denied by domain of "
       "alice@example.org" +
           tail},
      {5,
       "None (mx.example.net: domain of alice@example.org\n\tdoes not designate permitted sender "
       "hosts" +
           tail},
      {0,
       "None (mx.example.net: domain of alice@example.org\n\tdoes not designate permitted sender "
       "hosts" +
           tail},
      {-1,
       "None (mx.example.net: domain of alice@example.org\n\tdoes not designate permitted sender "
       "hosts" +
           tail},
  };
  use_settings([&](spam_config_record& c) { c.spf = ACTION_QUARANTINE; });
  for (const auto& r : rows) {
    SCOPED_TRACE(r.result);
    context->spf_result = r.result;
    EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
    EXPECT_EQ(smtp.take_changes(), (strings{scan_header, "addheader Received-SPF: " + r.want}));
  }
}

TEST_F(eom_actions, received_spf_value_is_cut_at_511_characters) {
  std::string host(127, 'h');
  copy_bounded(context->receiver_host, host.c_str());
  copy_bounded(context->helo_name, host.c_str());
  char value[512];
  format_received_spf(value, sizeof value, *context);
  EXPECT_EQ(std::string(value).size(), 511u);
}

TEST_F(eom_actions, marking_headers_in_fixed_order_and_subject_tagged) {
  context->dnsbl_header = context->ddns_header = context->harmful_header = 1;
  context->spf_header = context->to_header = context->helo_header = 1;
  smtp.header("Subject", "Hello");
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(),
            (strings{scan_header, "addheader X-QZ-SPAM-HELO: SPAM", "addheader X-QZ-SPAM-TO: SPAM",
                     "addheader X-QZ-SPAM-SPF: SPAM", "addheader X-QZ-SPAM-HARMFUL: SPAM",
                     "addheader X-QZ-SPAM-DDNS: SPAM", "addheader X-QZ-DNSBL: SPAM",
                     "chgheader Subject 1 [SPAM] Hello"}));
}

// Header names are case-insensitive: the message's own Subject is tagged,
// whatever its spelling, and no second one is added.
TEST_F(eom_actions, lower_case_subject_header_is_tagged_in_place) {
  context->ddns_header = 1;
  smtp.header("subject", "Hello");
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(), (strings{scan_header, "addheader X-QZ-SPAM-DDNS: SPAM",
                                          "chgheader Subject 1 [SPAM] Hello"}));
}

TEST_F(eom_actions, message_without_subject_gets_tag_as_subject) {
  context->ddns_header = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(),
            (strings{scan_header, "addheader X-QZ-SPAM-DDNS: SPAM", "addheader Subject: [SPAM]"}));
}

TEST_F(eom_actions, tagsubject_off_leaves_subject_alone) {
  use_settings([&](spam_config_record& c) { c.tagsubject = 0; });
  smtp.header("Subject", "Hello");
  context->dnsbl_header = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(), (strings{scan_header, "addheader X-QZ-DNSBL: SPAM"}));
}

TEST_F(eom_actions, first_eject_flag_in_order_decides_reply) {
  struct row {
    uint8_t connection_context::*flag;
    std::string reply;
  };
  const row rows[] = {
      {&connection_context::helo_eject, "setreply 550 5.7.1 Unwanted contents of the HELO command"},
      {&connection_context::to_eject, "setreply 554 5.7.1 Message for undisclosed recipients"},
      {&connection_context::spf_eject,
       "setreply 550 5.7.1 Rejected, check your DNS record sender:alice@example.org "
       "addr:192.0.2.7,mx.example.net,"},
      {&connection_context::harmful_eject,
       "setreply 554 5.7.1 Executable attachments are not allowed. Compress it and retry once "
       "again"},
      {&connection_context::ddns_eject, "setreply 550 5.7.1 Unwated DDNS client"},
      {&connection_context::dnsbl_eject,
       "setreply 550 5.7.1 Blocked, look at blacklist ip=192.0.2.7"},
  };
  // Each flag alone, then each together with every later one.
  for (std::size_t first = 0; first < std::size(rows); ++first) {
    for (bool with_later : {false, true}) {
      SCOPED_TRACE(std::to_string(first) + (with_later ? " with later flags" : " alone"));
      for (const auto& r : rows) context->*r.flag = 0;
      for (std::size_t i = first; i < std::size(rows); ++i) {
        if (i == first || with_later) context->*rows[i].flag = 1;
      }
      context->harmful_quarantine = 1;
      context->ddns_header = 1;
      EXPECT_EQ(smtp.eom(), SMFIS_REJECT);
      EXPECT_EQ(smtp.take_changes(),
                (strings{scan_header, "addheader X-QZ-SPAM-DDNS: SPAM", rows[first].reply}));
    }
  }
}

TEST_F(eom_actions, to_eject_logs_undisclosed_line_before_refusal) {
  context->to_eject = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_REJECT);
  EXPECT_TRUE(logs.contains(
      LOG_NOTICE,
      "undisclosed recipients: client.example, <alice@example.org> -> <bob@example.net>"));
}

TEST_F(eom_actions, refusal_text_from_client_input_is_escaped) {
  copy_bounded(context->sender_addr, "100%off@spam.example");
  context->spf_eject = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_REJECT);
  EXPECT_EQ(smtp.take_changes().back(),
            "setreply 550 5.7.1 Rejected, check your DNS record sender:100%%off@spam.example "
            "addr:192.0.2.7,mx.example.net,");
  copy_bounded(context->receiver_host, "mx\r\n.example.net");
  EXPECT_EQ(smtp.eom(), SMFIS_REJECT);
  EXPECT_EQ(smtp.take_changes().back(),
            "setreply 550 5.7.1 Rejected, check your DNS record sender:100%%off@spam.example "
            "addr:192.0.2.7,mx.example.net,");
}

TEST_F(eom_actions, every_quarantine_flag_gives_its_reason_in_order) {
  context->dnsbl_quarantine = context->harmful_quarantine = context->ddns_quarantine = 1;
  context->spf_quarantine = context->to_quarantine = context->helo_quarantine = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(),
            (strings{scan_header, "quarantine HELO CHECK failed(BOGUS_HELO)",
                     "quarantine To or CC header unknown", "quarantine SPF unknown(FAILED?)",
                     "quarantine From DDNS", "quarantine quarantine from Content-Dispotion header",
                     "quarantine From DNSbase blacklist check"}));
}

TEST_F(eom_actions, only_harmful_quarantine_gives_no_marking_and_no_tag) {
  use_settings([&](spam_config_record& c) { c.spf = ACTION_HEADER; });
  context->spf_result = 2;
  context->harmful_quarantine = 1;
  smtp.header("Subject", "Hello");
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  auto changes = smtp.take_changes();
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0], scan_header);
  EXPECT_EQ(changes[1].rfind("addheader Received-SPF: Pass (", 0), 0u);
  EXPECT_EQ(changes[2], "quarantine quarantine from Content-Dispotion header");
}

TEST_F(eom_actions, failing_libmilter_calls_do_not_stop_the_phase) {
  smtp.failing.insert("smfi_addheader");
  context->dnsbl_header = 1;
  context->dnsbl_quarantine = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.take_changes(), (strings{"quarantine From DNSbase blacklist check"}));
}

TEST_F(eom_actions, quarantine_reasons_are_logged_once_with_the_queue_id) {
  context->message->queue_id = "4QxP2c1Zz";
  context->helo_quarantine = context->ddns_quarantine = 1;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_EQ(logs.lines(),
            (std::vector<fake_milter::logged_line>{
                {LOG_NOTICE, "quarantined 4QxP2c1Zz: HELO CHECK failed(BOGUS_HELO); From DDNS"}}));
  logs.clear();
  context->helo_quarantine = context->ddns_quarantine = 0;
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
  EXPECT_TRUE(logs.lines().empty());
}

// Postfix gives the queue id only with the end of the message, Sendmail
// already at MAIL FROM.
TEST_F(eom_actions, queue_id_missing_at_mail_from_is_taken_at_end_of_message) {
  struct id_case {
    const char* at_mail_from;
    const char* at_end;  // nullptr: macro "i" not sent
    const char* want;
  };
  const id_case cases[] = {
      {"unknown", "4QxP2c1Zz", "4QxP2c1Zz"},
      {"unknown", nullptr, "unknown"},
      {"unknown", "", "unknown"},
      {"3B7HAIUd012345", "other", "3B7HAIUd012345"},
  };
  context->dnsbl_quarantine = 1;
  for (const id_case& c : cases) {
    SCOPED_TRACE(c.at_mail_from);
    context->message->queue_id = c.at_mail_from;
    smtp.macros.erase("i");
    if (c.at_end != nullptr) smtp.macros["i"] = c.at_end;
    logs.clear();
    EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
    EXPECT_EQ(context->message->queue_id, c.want);
    EXPECT_TRUE(logs.contains(
        LOG_NOTICE, std::string("quarantined ") + c.want + ": From DNSbase blacklist check"));
  }
}
