// Archive parts through the body stage: a harmful member is a harmful
// attachment with its own info line; an archive that cannot be listed, or
// is past the member bound, says so once and gives no verdict.
#include <gtest/gtest.h>

#include <glib.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "archive/archive_maker.hpp"
#include "message/message_fixture.hpp"
#include "support/in_process_archive.hpp"

namespace {

std::string base64_lines(const std::string& bytes) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string flat(encoded);
  g_free(encoded);
  std::string lines;
  for (std::size_t at = 0; at < flat.size(); at += 76) lines += flat.substr(at, 76) + "\r\n";
  return lines;
}

class archive_stage : public message_stage {
 protected:
  void SetUp() override {
    script_archive_listings(list_archive_here);
    message_stage::SetUp();
    use_settings([&](spam_config_record& c) { c.disposition = ACTION_HEADER; });
  }
  void TearDown() override {
    message_stage::TearDown();
    script_archive_listings(nullptr);
  }

  // Sends a message carrying `archive` as a base64 part named invoice.zip,
  // in chunks of 1000 bytes; the log lines it gave.
  std::vector<std::string> send(const std::string& archive) {
    smtp.header("Content-Type", "multipart/mixed; boundary=\"b\"");
    smtp.eoh();
    std::string body =
        "--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n--b\r\n"
        "Content-Type: application/zip; name=\"invoice.zip\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        base64_lines(archive) + "--b--\r\n";
    for (std::size_t at = 0; at < body.size(); at += 1000) {
      EXPECT_EQ(smtp.body(body.substr(at, 1000)), SMFIS_CONTINUE);
    }
    EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
    std::vector<std::string> lines;
    for (const auto& line : logs.lines()) {
      if (line.text.rfind("harmful", 0) == 0 || line.text.rfind("archive", 0) == 0) {
        lines.push_back(line.text);
      }
    }
    return lines;
  }
};

const std::string harmful_line =
    "harmful attachment: client.example, <alice@example.org> -> <bob@example.net>";

}  // namespace

TEST_F(archive_stage, harmful_member_is_a_harmful_attachment_with_its_name) {
  std::string inner = make_archive({{"invoice.exe", "MZ"}});
  std::vector<std::string> lines = send(make_archive({{"readme.txt", "x"}, {"in.zip", inner}}));
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                harmful_line,
                "harmful attachment in archive: \"invoice.zip\" holds \"in.zip/invoice.exe\""}));
  EXPECT_EQ(context->harmful_header, 1);
}

TEST_F(archive_stage, unlisted_archive_says_why_once_and_gives_no_verdict) {
  std::string noise;
  for (unsigned n = 1; noise.size() < 5000; n = n * 1103515245 + 12345) {
    noise.push_back(static_cast<char>(n >> 16));
  }
  // Cut inside the first member's data: the harmful name after it is never read.
  std::string zip = make_archive({{"a.bin", noise}, {"b.exe", "MZ"}});
  struct row {
    const char* what;
    std::string archive;
    const char* line;
  };
  const row rows[] = {
      {"truncated", zip.substr(0, 2000), "archive not listed: \"invoice.zip\": "},
      {"bomb", make_wide_zip(max_archive_members + 1),
       "archive not listed: \"invoice.zip\": more than 10000 members"},
      {"harmless", make_archive({{"a.txt", "x"}}), nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    logs.clear();
    start_message();
    std::vector<std::string> lines = send(r.archive);
    if (r.line == nullptr) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].rfind(r.line, 0), 0u) << lines[0];
    }
    EXPECT_EQ(context->harmful_header, 0);
  }
}
