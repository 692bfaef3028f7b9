#include "message/copying.hpp"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "copyrules/copy_rule_table.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "message/copy_changes.hpp"

namespace {

const std::string long_512(500, 'a');
const std::string addr_512 = long_512 + "@archive.tst";  // 512 characters
const std::string addr_513 = "b" + addr_512;             // 513 characters

struct copy_case {
  const char* what;
  copy_rule_table rules;  // domains as stored (with ">")
  std::string sender;
  std::vector<std::string> recipients;
  std::vector<std::string> want_changes;
  sfsistat want_status = SMFIS_CONTINUE;
};

const std::vector<copy_case> copy_cases = {
    {"ALL with S copies once and marks once",
     {{"ALL>", "all@archive.test", "S"}},
     "<anyone@else.test>",
     {"x@y.test"},
     {"addheader X-TESLO-ID: Q1", "addrcpt all@archive.test"}},
    {"R copies once per matching recipient",
     {{"example.com>", "in@archive.test", "R"}},
     "<a@outside.test>",
     {"one@example.com", "two@other.test", "three@example.com"},
     {"addrcpt in@archive.test", "addheader X-TESLO-ID: Q1", "addrcpt in@archive.test"}},
    {"matching is case-sensitive",
     {{"example.com>", "in@archive.test", "R"}},
     "<a@outside.test>",
     {"one@EXAMPLE.COM"},
     {}},
    {"a pattern ending in ALL matches everything",
     {{"SMALL>", "small@archive.test", "R"}},
     "<a@outside.test>",
     {"one@x.test"},
     {"addrcpt small@archive.test", "addheader X-TESLO-ID: Q1"}},
    {"SA without a matching sender adds nothing",
     {{"example.com>", "sa@archive.test", "SA"}},
     "<a@outside.test>",
     {"one@example.com", "two@example.com"},
     {}},
    {"SA with a matching sender copies per matching recipient",
     {{"example.com>", "sa@archive.test", "SA"}},
     "<boss@example.com>",
     {"one@example.com", "two@other.test", "three@example.com"},
     {"addrcpt sa@archive.test", "addheader X-TESLO-ID: Q1", "addrcpt sa@archive.test"}},
    {"SR copies for the sender and each matching recipient",
     {{"example.com>", "sr@archive.test", "SR"}},
     "<boss@example.com>",
     {"one@example.com"},
     {"addheader X-TESLO-ID: Q1", "addrcpt sr@archive.test", "addrcpt sr@archive.test"}},
    {"two matching rules: two copies, one header",
     {{"example.com>", "one@archive.test", "S"}, {"ALL>", "two@archive.test", "R"}},
     "<boss@example.com>",
     {"x@y.test"},
     {"addheader X-TESLO-ID: Q1", "addrcpt one@archive.test", "addrcpt two@archive.test"}},
    {"unknown or lower-case direction is never applied",
     {{"ALL>", "one@archive.test", "s"}, {"ALL>", "two@archive.test", "RS"}},
     "<boss@example.com>",
     {"x@y.test"},
     {}},
    {"null sender is completed with the receiving host",
     {{"mx.example.net>", "bounce@archive.test", "S"}},
     "<>",
     {"x@y.test"},
     {"addheader X-TESLO-ID: Q1", "addrcpt bounce@archive.test"}},
    {"bare sender is completed with the receiving host",
     {{"mx.example.net>", "local@archive.test", "S"}},
     "<postmaster>",
     {"x@y.test"},
     {"addheader X-TESLO-ID: Q1", "addrcpt local@archive.test"}},
    {"pattern matches subdomains and any address ending in it",
     {{"board@example.com>", "board@archive.test", "S"}, {"example.com>", "sub@archive.test", "R"}},
     "<xboard@example.com>",
     {"a@mail.example.com"},
     {"addheader X-TESLO-ID: Q1", "addrcpt board@archive.test", "addrcpt sub@archive.test"}},
    {"no rules: no header", {}, "<a@b.test>", {"x@y.test"}, {}},
    {"address of exactly 512 characters is copied",
     {{"ALL>", addr_512, "S"}},
     "<a@b.test>",
     {},
     {"addheader X-TESLO-ID: Q1", "addrcpt " + addr_512}},
    {"overlong address of a rule that does not match is never measured",
     {{"nomatch.test>", addr_513, "SR"}, {"ALL>", "ok@archive.test", "S"}},
     "<a@b.test>",
     {"x@y.test"},
     {"addheader X-TESLO-ID: Q1", "addrcpt ok@archive.test"}},
    {"overlong sender-rule address accepts and stops the walk",
     {{"ALL>", "first@archive.test", "S"},
      {"b.test>", addr_513, "S"},
      {"ALL>", "late@archive.test", "S"}},
     "<a@b.test>",
     {},
     {"addheader X-TESLO-ID: Q1", "addrcpt first@archive.test"},
     SMFIS_ACCEPT},
    {"overlong recipient-rule address accepts, even under SA without sender",
     {{"y.test>", addr_513, "SA"}, {"ALL>", "late@archive.test", "S"}},
     "<a@b.test>",
     {"x@y.test"},
     {},
     SMFIS_ACCEPT},
};

TEST(copy_phase, applies_rules_by_direction) {
  for (const copy_case& c : copy_cases) {
    fake_milter::log_capture logs;
    publish_copy_rules(c.rules);
    fake_milter::session smtp(filter_description);
    smtp.macros["i"] = "Q1";
    smtp.macros["j"] = "mx.example.net";
    smtp.connect("client.test", "192.0.2.7");
    smtp.envfrom({c.sender});
    for (const std::string& recipient : c.recipients) smtp.envrcpt({"<" + recipient + ">"});
    EXPECT_EQ(smtp.eom(), c.want_status) << c.what;
    EXPECT_EQ(copy_changes(smtp.changes), c.want_changes) << c.what;
  }
  reset_copy_rules();
}

TEST(copy_phase, overlong_address_logs_the_line_of_its_part) {
  copy_rule_table sender_rule{{"ALL>", addr_513, "S"}};
  copy_rule_table recipient_rule{{"ALL>", addr_513, "R"}};
  {
    fake_milter::log_capture logs;
    publish_copy_rules(sender_rule);
    fake_milter::session smtp(filter_description);
    smtp.connect("client.test", "192.0.2.7");
    smtp.envfrom({"<a@b.test>"});
    EXPECT_EQ(smtp.eom(), SMFIS_ACCEPT);
    EXPECT_TRUE(logs.contains(LOG_ERR, "configure error:copy rcpt mailaddr size to big!"));
  }
  {
    fake_milter::log_capture logs;
    publish_copy_rules(recipient_rule);
    fake_milter::session smtp(filter_description);
    smtp.connect("client.test", "192.0.2.7");
    smtp.envfrom({"<a@b.test>"});
    smtp.envrcpt({"<x@y.test>"});
    EXPECT_EQ(smtp.eom(), SMFIS_ACCEPT);
    EXPECT_TRUE(
        logs.contains(LOG_ERR, "configure error:copy rcpt mailaddr size to big! " + addr_513));
  }
  reset_copy_rules();
}

TEST(copy_phase, header_once_per_message_with_first_64_of_queue_id) {
  publish_copy_rules({{"ALL>", "all@archive.test", "SR"}});
  fake_milter::session smtp(filter_description);
  std::string queue_id(70, 'q');
  queue_id[63] = 'E';
  smtp.macros["i"] = queue_id;
  smtp.connect("client.test", "192.0.2.7");
  smtp.envfrom({"<a@b.test>"});
  smtp.envrcpt({"<x@y.test>"});
  smtp.eom();
  std::vector<std::string> want = {"addheader X-TESLO-ID: " + queue_id.substr(0, 64),
                                   "addrcpt all@archive.test", "addrcpt all@archive.test"};
  EXPECT_EQ(copy_changes(smtp.take_changes()), want);

  // End of message again for the same record: copies, but no second header.
  smtp.eom();
  want = {"addrcpt all@archive.test", "addrcpt all@archive.test"};
  EXPECT_EQ(copy_changes(smtp.take_changes()), want);

  // A new message on the connection is marked again.
  smtp.envfrom({"<a@b.test>"});
  smtp.eom();
  EXPECT_EQ(copy_changes(smtp.take_changes()).front(),
            "addheader X-TESLO-ID: " + queue_id.substr(0, 64));
  reset_copy_rules();
}

TEST(copy_phase, missing_receiving_host_completes_with_localhost) {
  publish_copy_rules({{"localhost>", "local@archive.test", "SR"}});
  fake_milter::session smtp(filter_description);
  smtp.connect("client.test", "192.0.2.7");
  smtp.envfrom({"<>"});
  smtp.envrcpt({"<x@y.test>"});
  smtp.eom();
  std::vector<std::string> want = {"addheader X-TESLO-ID: unknown", "addrcpt local@archive.test"};
  EXPECT_EQ(copy_changes(smtp.changes), want);
  reset_copy_rules();
}

TEST(copy_phase, without_message_record_continues_quietly) {
  connection_context context{};
  copy_rule_table rules{{"ALL>", "all@archive.test", "S"}};
  EXPECT_EQ(copy_phase(nullptr, context, rules), SMFIS_CONTINUE);
}

struct normalise_case {
  const char* input;
  const char* recipient;
  const char* sender;
};

const normalise_case normalise_cases[] = {
    {"a@b.test", "<a@b.test>", "<a@b.test>"},
    {"<a@b.test>", "<a@b.test>", "<a@b.test>"},
    {"postmaster", "postmaster@mx>", "postmaster@mx>"},
    {"<>", "@mx>", "@mx>"},
    {"<local> trailing", "local@mx>", "local@mx>"},
    {"<unclosed", "unclosed@mx>", "unclosed@mx>"},
};

TEST(copy_phase, normalises_addresses) {
  for (const normalise_case& c : normalise_cases) {
    EXPECT_EQ(normalise_recipient(c.input, "mx"), c.recipient) << c.input;
    EXPECT_EQ(normalise_sender(c.input, "mx"), c.sender) << c.input;
  }
}

}  // namespace

// The recorded sender and recipient are set as they may stand in the
// message record, whatever the envelope stages would have let through.

TEST(copy_phase, matches_as_the_full_normalisation_does) {
  const std::string host = "mx.example.net";
  const std::vector<std::string> addresses = {
      "a@b.test", "<a@b.test>", "<a@b.test> ", " a@b.test", "bare", "<bare>", "<a@b.test>\t", "",
  };
  const std::vector<std::string> patterns = {
      "b.test>", "a@b.test>", "<a@b.test>", "bare@mx.example.net>", "<bare@", "test> ", "ALL>",
  };
  for (const std::string& address : addresses) {
    for (const std::string& pattern : patterns) {
      for (const char* direction : {"R", "S"}) {
        copy_rule_table rules = {{pattern, "copy@archive.test", direction}};
        bool as_recipient = std::string(direction) == "R";
        std::string normal =
            as_recipient ? normalise_recipient(address, host) : normalise_sender(address, host);
        bool want = copy_rule_matches(rules.front(), normal);
        publish_copy_rules(rules);
        fake_milter::session smtp(filter_description);
        smtp.macros["i"] = "Q1";
        smtp.macros["j"] = host;
        smtp.connect("client.test", "192.0.2.7");
        smtp.envfrom({"<s@outside.invalid>"});
        message_record& message = *smtp.context<connection_context>()->message;
        message.sender = as_recipient ? "<s@outside.invalid>" : address;
        message.recipients = {as_recipient ? address : "r@outside.invalid"};
        smtp.eom();
        bool copied = !copy_changes(smtp.changes).empty();
        EXPECT_EQ(copied, want) << direction << " \"" << address << "\" against \"" << pattern
                                << "\" (normal form \"" << normal << "\")";
      }
    }
  }
  reset_copy_rules();
}
