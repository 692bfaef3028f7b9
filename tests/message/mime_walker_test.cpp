// The MIME walker: part headers read as mail programs write them, the
// structure followed through any chunking, and archive parts collected.
#include "message/mime_walker.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spamconfig/harmful_extensions.hpp"

namespace {

struct recorder final : mime_walker::observer {
  std::vector<std::string> harmful;
  std::vector<std::string> archives;        // "name:content"
  std::vector<std::string> unlisted_names;  // "name:why"
  void harmful_part(const std::string& name) override { harmful.push_back(name); }
  void archive_part(const std::string& name, const std::string& content) override {
    archives.push_back(name + ":" + content);
  }
  void archive_not_collected(const std::string& name, unlisted why) override {
    unlisted_names.push_back(name + (why == unlisted::too_large ? ":too large" : ":too many"));
  }
};

const std::string top_type = "multipart/mixed; boundary=\"=_outer\"";

// A message whose second part is `part` (its header block and body).
std::string body_with(const std::string& part) {
  return "This is a multi-part message in MIME format.\r\n"
         "--=_outer\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSee attached.\r\n"
         "--=_outer\r\n" +
         part + "\r\n--=_outer--\r\nepilogue\r\n";
}

// Feeds `body` in pieces of `piece` bytes (0: whole).
recorder walk(const std::string& type, const std::string& body, std::size_t piece = 0,
              bool collect = false) {
  recorder found;
  mime_walker walker(default_harmful_extensions, collect);
  walker.message_header("Content-Type", type.c_str());
  if (walker.start_body(found)) {
    std::size_t step = piece == 0 ? body.size() : piece;
    for (std::size_t at = 0; at < body.size(); at += step) {
      std::size_t n = std::min(step, body.size() - at);
      walker.feed(reinterpret_cast<const unsigned char*>(body.data() + at), n, found);
    }
  }
  walker.finish(found);
  return found;
}

struct part_row {
  const char* what;
  std::string part;
  const char* name;  // the harmful name reported; null: none
};

const std::vector<part_row>& part_rows() {
  static const std::vector<part_row> rows = {
      {"quoted filename", "Content-Disposition: attachment; filename=\"invoice.exe\"\r\n\r\nTVqQ",
       "invoice.exe"},
      {"upper case", "Content-Disposition: attachment; filename=\"INVOICE.EXE\"\r\n\r\nTVqQ",
       "INVOICE.EXE"},
      {"size and dates on tab-folded lines",
       "Content-Disposition: attachment; filename=\"invoice.exe\"; size=4096;\r\n"
       "\tcreation-date=\"Mon, 01 Jan 2024 10:00:00 GMT\";\r\n"
       "\tmodification-date=\"Mon, 01 Jan 2024 10:00:00 GMT\"\r\n\r\nTVqQ",
       "invoice.exe"},
      {"filename on a folded line",
       "Content-Disposition: attachment;\r\n\tfilename=\"invoice.exe\"\r\n\r\nTVqQ", "invoice.exe"},
      {"space after the quotation mark",
       "Content-Disposition: attachment; filename=\"invoice.exe\" \r\n\r\nTVqQ", "invoice.exe"},
      {"RFC 2231 charset and percent-encoding",
       "Content-Disposition: attachment; filename*=UTF-8''rechnung%C3%BC.exe\r\n\r\nTVqQ",
       "rechnung\xC3\xBC.exe"},
      {"RFC 2231 continuations",
       "Content-Disposition: attachment; filename*0=\"in\"; filename*1=\"voice.exe\"\r\n\r\nTVqQ",
       "invoice.exe"},
      {"RFC 2047 encoded word",
       "Content-Disposition: attachment; filename=\"=?UTF-8?B?aW52b2ljZS5leGU=?=\"\r\n\r\nTVqQ",
       "invoice.exe"},
      {"type name with an attachment disposition",
       "Content-Type: application/octet-stream; name=\"invoice.exe\"\r\n"
       "Content-Disposition: attachment\r\n\r\nTVqQ",
       "invoice.exe"},
      {"type name alone",
       "Content-Type: application/octet-stream; name=\"invoice.exe\"\r\n\r\nTVqQ", "invoice.exe"},
      {"script", "Content-Disposition: attachment; filename=\"invoice.js\"\r\n\r\nvar",
       "invoice.js"},
      {"disk image", "Content-Disposition: attachment; filename=\"invoice.iso\"\r\n\r\nAAAA",
       "invoice.iso"},
      {"comments",
       "Content-Disposition: attachment (saved); filename=\"invoice.exe\" (by mailer)\r\n\r\nTVqQ",
       "invoice.exe"},
      {"escaped quotation mark",
       "Content-Disposition: attachment; filename=\"in\\\"voice.exe\"\r\n\r\nTVqQ",
       "in\"voice.exe"},
      {"trailing dot", "Content-Disposition: attachment; filename=\"invoice.exe.\"\r\n\r\nTVqQ",
       "invoice.exe."},
      {"upper-case NAME*0*",
       "Content-Type: application/octet-stream; NAME*0*=UTF-8''inv; NAME*1=oice.exe\r\n\r\nTVqQ",
       "invoice.exe"},
      {"name in a nested message/rfc822",
       "Content-Type: message/rfc822\r\n\r\nSubject: fwd\r\n"
       "Content-Type: multipart/mixed; boundary=inner\r\n\r\n--inner\r\n"
       "Content-Type: application/octet-stream\r\n"
       "Content-Disposition: attachment; filename=invoice.exe\r\n\r\nTVqQ\r\n--inner--",
       "invoice.exe"},
      {"lower-case field names",
       "content-disposition: attachment; FILENAME=invoice.EXE\r\n\r\nTVqQ", "invoice.EXE"},
      {"harmless name", "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\nJVBE",
       nullptr},
      {"listed extension not last",
       "Content-Disposition: attachment; filename=\"invoice.exe.pdf\"\r\n\r\nJVBE", nullptr},
      {"no extension", "Content-Type: application/octet-stream; name=\"exe\"\r\n\r\nAAAA", nullptr},
      {"another field's parameter",
       "X-Content-Disposition: attachment; filename=\"invoice.exe\"\r\n\r\nAAAA", nullptr},
      {"name in the part's text only",
       "Content-Type: text/plain\r\n\r\nContent-Disposition: attachment; filename=\"x.exe\"",
       nullptr},
  };
  return rows;
}

}  // namespace

TEST(mime_walker, part_headers_as_mail_programs_write_them) {
  for (const auto& row : part_rows()) {
    SCOPED_TRACE(row.what);
    recorder found = walk(top_type, body_with(row.part));
    std::vector<std::string> expected;
    if (row.name != nullptr) expected.emplace_back(row.name);
    EXPECT_EQ(found.harmful, expected);
  }
}

TEST(mime_walker, any_chunking_gives_the_same_findings) {
  std::string body;
  for (const auto& row : part_rows()) body += row.part + "\r\n--=_outer\r\n";
  body = "--=_outer\r\n" + body + "\r\n--=_outer--\r\n";
  recorder whole = walk(top_type, body);
  EXPECT_EQ(whole.harmful.size(), 18u);
  for (std::size_t piece : {1, 2, 3, 7, 64, 1000}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(walk(top_type, body, piece).harmful, whole.harmful);
  }
}

TEST(mime_walker, message_itself_counts_and_plain_message_is_done_at_once) {
  recorder found;
  mime_walker named(default_harmful_extensions, false);
  named.message_header("Content-Type", "application/x-msdownload;\r\n\tname=\"invoice.exe\"");
  EXPECT_FALSE(named.start_body(found));
  EXPECT_EQ(found.harmful, std::vector<std::string>{"invoice.exe"});

  mime_walker plain(default_harmful_extensions, false);
  plain.message_header("Content-Type", "text/plain; charset=us-ascii");
  EXPECT_FALSE(plain.start_body(found));
  EXPECT_TRUE(plain.done());
}

TEST(mime_walker, raw_match_in_the_header_block_reports_that_part_once_only) {
  const std::string head = "--b\r\nContent-Disposition: attachment; filename=a.exe\r\n";
  const std::string rest = "\r\nTVqQ\r\n--b\r\nContent-Type: x/y; name=b.exe\r\n\r\n--b--\r\n";
  recorder found;
  mime_walker walker(default_harmful_extensions, false);
  walker.message_header("Content-Type", "multipart/mixed; boundary=b");
  ASSERT_TRUE(walker.start_body(found));
  walker.feed(reinterpret_cast<const unsigned char*>(head.data()), head.size(), found);
  walker.raw_match();
  walker.feed(reinterpret_cast<const unsigned char*>(rest.data()), rest.size(), found);
  EXPECT_EQ(found.harmful, std::vector<std::string>{"b.exe"});
  EXPECT_TRUE(walker.done());
}

TEST(mime_walker, archive_part_is_decoded_and_handed_over_whole) {
  struct row {
    const char* what;
    std::string part;
    std::string archive;  // "name:content"
  };
  const row rows[] = {
      {"base64 zip by name",
       "Content-Type: application/octet-stream; name=a.zip\r\n"
       "Content-Transfer-Encoding: base64\r\n\r\nUEsDBApB\r\nQkM=\r\n",
       "a.zip:PK\x03\x04\nABC"},
      {"quoted-printable by type",
       "Content-Type: application/zip\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
       "PK=03=04=\r\nAB\r\nC",
       "application/zip:PK\x03\x04"
       "AB\r\nC"},
      {"as it stands: the line end before the boundary is not content",
       "Content-Type: application/x-tar; name=\"b.tar\"\r\n\r\nline1\r\nline2",
       "b.tar:line1\r\nline2"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    for (std::size_t piece : {0, 1, 5}) {
      recorder found = walk(top_type, body_with(r.part), piece, true);
      EXPECT_EQ(found.archives, std::vector<std::string>{r.archive});
    }
  }
  // A long line (past any boundary's length) is streamed, its end kept.
  std::string long_line(5000, 'x');
  recorder found =
      walk(top_type,
           body_with("Content-Type: application/x-tar; name=c.tar\r\n\r\n" + long_line + "\r\nend"),
           333, true);
  EXPECT_EQ(found.archives, std::vector<std::string>{"c.tar:" + long_line + "\r\nend"});
}

TEST(mime_walker, archive_past_the_limit_is_dropped_and_said_to_be_too_large) {
  std::string content;
  std::string line(76, 'A');  // base64 of 57 zero bytes
  while (content.size() < archive_size_limit / 57 * 78 + 200) content += line + "\r\n";
  recorder found = walk(top_type,
                        body_with("Content-Type: application/zip; name=big.zip\r\n"
                                  "Content-Transfer-Encoding: base64\r\n\r\n" +
                                  content),
                        65536, true);
  EXPECT_TRUE(found.archives.empty());
  EXPECT_EQ(found.unlisted_names, std::vector<std::string>{"big.zip:too large"});
}

TEST(mime_walker, at_most_eight_archives_a_message_are_handed_over) {
  std::string body;
  for (int n = 1; n <= 9; ++n) {
    body += "--=_outer\r\nContent-Type: application/zip; name=a" + std::to_string(n) +
            ".zip\r\n\r\nPK\r\n";
  }
  recorder found = walk(top_type, body + "--=_outer--\r\n", 0, true);
  EXPECT_EQ(found.archives.size(), 8u);
  EXPECT_EQ(found.unlisted_names, std::vector<std::string>{"a9.zip:too many"});
}

TEST(mime_walker, harmful_archive_name_is_not_collected_and_unclosed_part_ends_with_message) {
  recorder found = walk(top_type,
                        "--=_outer\r\nContent-Type: application/zip; name=x.exe\r\n\r\nPK\r\n"
                        "--=_outer\r\nContent-Type: application/zip; name=y.zip\r\n\r\nPK",
                        0, true);
  EXPECT_EQ(found.harmful, std::vector<std::string>{"x.exe"});
  EXPECT_EQ(found.archives, std::vector<std::string>{"y.zip:PK"});
}
