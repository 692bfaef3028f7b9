// teslo_body: the harmful-attachment verdicts, their log lines and the
// early stop under "quarantine".
#include <gtest/gtest.h>

#include <string>
#include <syslog.h>
#include <vector>

#include "message/message_fixture.hpp"

namespace {

const char* const harmful =
    "harmful attachment: client.example, <alice@example.org> -> <bob@example.net>";

std::size_t harmful_lines(const fake_milter::log_capture& logs) {
  std::size_t count = 0;
  for (const auto& line : logs.lines())
    count += line.priority == LOG_NOTICE && line.text == harmful;
  return count;
}

}  // namespace

using body_stage = message_stage;

TEST_F(body_stage, off_leaves_chunk_unread) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_OFF; });
  smtp.eoh();
  EXPECT_EQ(smtp.body("Content-Disposition: attachment; filename=a.exe\r\npartial"),
            SMFIS_CONTINUE);
  EXPECT_EQ(context->body_line_len, 0);
  EXPECT_EQ(harmful_lines(logs), 0u);
}

TEST_F(body_stage, harmful_line_with_crlf_raises_flag_of_action) {
  struct row {
    check_action action;
    uint8_t header, eject, quarantine;
  };
  const row rows[] = {
      {ACTION_HEADER, 1, 0, 0}, {ACTION_EJECT, 0, 1, 0}, {ACTION_QUARANTINE, 0, 0, 1}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.action);
    use_settings([&](spam_config_record& c) { c.disposition = r.action; });
    context->harmful_header = context->harmful_eject = context->harmful_quarantine = 0;
    logs.clear();
    smtp.eoh();
    EXPECT_EQ(smtp.body("Content-Disposition: attachment; filename=report.pdf\r\n"),
              SMFIS_CONTINUE);
    EXPECT_EQ(harmful_lines(logs), 0u);
    EXPECT_EQ(smtp.body("Content-Disposition: attachment; filename=report.exe\r\n"),
              SMFIS_CONTINUE);
    EXPECT_EQ(harmful_lines(logs), 1u);
    EXPECT_EQ(context->harmful_header, r.header);
    EXPECT_EQ(context->harmful_eject, r.eject);
    EXPECT_EQ(context->harmful_quarantine, r.quarantine);
  }
}

TEST_F(body_stage, every_matching_line_logs_unless_quarantine_stops_the_chunk) {
  const std::string two = "filename=a.exe\r\nfilename=b.exe\r\n";
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_EJECT; });
  smtp.eoh();
  smtp.body(two);
  EXPECT_EQ(harmful_lines(logs), 2u);

  logs.clear();
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_QUARANTINE; });
  smtp.eoh();
  smtp.body(two);
  EXPECT_EQ(harmful_lines(logs), 1u);
  smtp.body(two);  // the next chunk is scanned again
  EXPECT_EQ(harmful_lines(logs), 2u);
}

TEST_F(body_stage, line_split_across_chunks_is_tested_when_its_end_arrives) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_HEADER; });
  smtp.eoh();
  smtp.body("hello\r\nContent-Disposition: attachment; file");
  EXPECT_EQ(harmful_lines(logs), 0u);
  smtp.body("name=\"run.bat\"\r");
  EXPECT_EQ(harmful_lines(logs), 0u);
  smtp.body("\nbye\r\n");
  EXPECT_EQ(harmful_lines(logs), 1u);
  EXPECT_EQ(context->harmful_header, 1);
}

TEST_F(body_stage, end_of_headers_drops_line_left_by_earlier_message) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_HEADER; });
  smtp.eoh();
  smtp.body("Content-Disposition: attachment; ");
  smtp.eoh();
  smtp.body("filename=a.exe\n");  // a line of its own: still harmful
  EXPECT_EQ(harmful_lines(logs), 1u);
  smtp.eoh();
  smtp.body("xx");
  smtp.eoh();
  smtp.body("filename=a.exe\n");
  EXPECT_EQ(harmful_lines(logs), 2u);  // "xx" did not stick to the front
}

namespace {

const char* const mixed = "multipart/mixed; boundary=\"b\"";

std::vector<std::string> info_lines(const fake_milter::log_capture& logs) {
  std::vector<std::string> lines;
  for (const auto& line : logs.lines()) {
    if (line.priority == LOG_INFO) lines.push_back(line.text);
  }
  return lines;
}

}  // namespace

TEST_F(body_stage, mime_part_is_reported_once_whether_or_not_its_raw_line_matched) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_EJECT; });
  smtp.header("Content-Type", mixed);
  smtp.eoh();
  // The first part's line matches the raw pattern too; the second's does not.
  smtp.body(
      "--b\r\nContent-Disposition: attachment; filename=\"a.exe\"\r\n\r\nTVqQ\r\n--b\r\n"
      "Content-Disposition: attachment; filename=\"b.exe\"; size=4096\r\n\r\nTVqQ\r\n--b--\r\n");
  smtp.eom();
  EXPECT_EQ(harmful_lines(logs), 2u);
  EXPECT_EQ(info_lines(logs), std::vector<std::string>{"harmful attachment name: \"b.exe\""});
  EXPECT_EQ(context->harmful_eject, 1);
}

TEST_F(body_stage, message_without_mime_parts_keeps_no_walker) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_HEADER; });
  smtp.header("Content-Type", "text/plain; charset=utf-8");
  ASSERT_NE(context->message->walker, nullptr);
  smtp.eoh();
  EXPECT_EQ(context->message->walker, nullptr);
  start_message();
  smtp.header("Subject", "no MIME fields at all");
  smtp.eoh();
  EXPECT_EQ(context->message->walker, nullptr);
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_OFF; });
  smtp.header("Content-Type", mixed);
  EXPECT_EQ(context->message->walker, nullptr);
}

TEST_F(body_stage, quarantine_silences_the_rest_of_the_chunk_for_mime_parts_too) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_QUARANTINE; });
  smtp.header("Content-Type", mixed);
  smtp.eoh();
  const std::string two =
      "--b\r\nContent-Type: x/y; name=a.exe\r\n\r\nx\r\n"
      "--b\r\nContent-Type: x/y; name=b.exe\r\n\r\nx\r\n";
  smtp.body(two);
  EXPECT_EQ(harmful_lines(logs), 1u);
  smtp.body(two);
  EXPECT_EQ(harmful_lines(logs), 2u);
  EXPECT_EQ(context->harmful_quarantine, 1);
}

TEST_F(body_stage, part_header_unfinished_at_the_end_of_the_message_counts) {
  use_settings([&](spam_config_record& c) { c.disposition = ACTION_HEADER; });
  smtp.header("Content-Type", mixed);
  smtp.eoh();
  smtp.body("--b\r\nContent-Type: application/octet-stream;\r\n name=\"a.scr\"");
  EXPECT_EQ(harmful_lines(logs), 0u);
  smtp.eom();
  EXPECT_EQ(harmful_lines(logs), 1u);
  EXPECT_EQ(context->harmful_header, 1);
}
