// The fast body scanner against the plain byte-by-byte scan: same matches,
// same matched lines, same early stop and same carried line, over a varied
// corpus cut into chunks at every position.
#include "message/body_scanner.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "message/body_scan_reference.hpp"
#include "spamconfig/builtin_patterns.hpp"

namespace {

struct compiled_pattern {
  regex_t regex{};
  explicit compiled_pattern(const char* text) {
    EXPECT_EQ(regcomp(&regex, text, REG_EXTENDED | REG_ICASE), 0);
  }
  ~compiled_pattern() { regfree(&regex); }
  compiled_pattern(const compiled_pattern&) = delete;
  compiled_pattern& operator=(const compiled_pattern&) = delete;
};

const regex_t& builtin() {
  static compiled_pattern pattern(default_disposition_pattern_text);
  return pattern.regex;
}

enum class scanner { reference, fast, fast_without_filter };

struct recorder {
  const char* line = nullptr;
  bool stop = false;
  std::vector<std::string> seen;
  std::vector<std::size_t> ends;  // chunk offsets past the matched lines
};

bool record_match(void* user, std::size_t line_end) {
  auto& r = *static_cast<recorder*>(user);
  r.seen.emplace_back(r.line);
  r.ends.push_back(line_end);
  return r.stop;
}

// Everything observable after feeding `chunks` to one scanner.
struct outcome {
  std::vector<std::string> seen;     // matched lines, in order
  std::vector<std::size_t> ends;     // where each ended in its chunk
  std::vector<std::size_t> matches;  // per chunk
  std::vector<bool> stopped;         // per chunk
  int32_t line_len = 0;              // carried line at the end
  std::string carried;               // its bytes
  bool operator==(const outcome&) const = default;
};

outcome run(scanner kind, const std::vector<std::string>& chunks, bool stop_on_match) {
  char line[body_line_size] = {};
  int32_t line_len = 0;
  recorder r{line, stop_on_match, {}, {}};
  outcome out;
  for (const auto& chunk : chunks) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(chunk.data());
    body_scan_result result{};
    if (kind == scanner::reference) {
      result = reference_scan_body_chunk(line, line_len, bytes, chunk.size(), &builtin(),
                                         record_match, &r);
    } else {
      body_scan_pattern pattern{&builtin(), kind == scanner::fast ? "filename=" : nullptr};
      result = scan_body_chunk(line, line_len, bytes, chunk.size(), pattern, record_match, &r);
    }
    out.matches.push_back(result.matches);
    out.stopped.push_back(result.stopped);
  }
  out.seen = r.seen;
  out.ends = r.ends;
  out.line_len = line_len;
  out.carried.assign(line, static_cast<std::size_t>(line_len));
  return out;
}

// Lines that match, lines that nearly match, and lines that only look alike.
std::vector<std::string> corpus_lines() {
  std::vector<std::string> lines = {
      "Content-Disposition: attachment; filename=report.exe",
      "Content-Disposition: attachment; filename=\"Report.SCR\"",
      "   filename=\"a.bat\"",
      "FILENAME=x.Pif",
      "FileName=x.exe\r",
      "Content-Disposition: attachment; filename=report.pdf",
      "\tfilename=x.exe",
      "xfilename=a.exe",
      "filenam=a.exe",
      "file name=a.exe",
      "filename =a.exe",
      "filename=a.exe; size=10",
      "filename=a.exe\"\"",
      "filename=",
      "=",
      "==",
      "e=",
      "name=a.exe",
      "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0",
      "Zm9vYmFy==",
      "soft line break=\r",
      "=3D=3Dfilename=3Dx.exe",
      "Content-Type: application/octet-stream; name=\"a.exe\"",
      std::string("abc\0filename=x.exe", 18),
      std::string("filename=x.exe\0tail", 19),
      "",
      "\r",
      "\r\r",
      "Content-Disposition: attachment;\r",
  };
  // Long lines: the 2047-byte limit splits them, so a pattern at the end of
  // a long line is seen (or not) only as the tail piece.
  for (std::size_t size : {2045u, 2046u, 2047u, 2048u, 2049u, 3000u, 4095u, 4096u}) {
    lines.push_back(std::string(size, 'A'));
    std::string tail = "filename=x.exe";
    lines.push_back(std::string(size - tail.size(), ' ') + tail);
    lines.push_back(std::string(size - tail.size() - 1, ' ') + tail + "\r");
    lines.push_back(std::string(2047, 'B') + "xfilename=x.exe" +
                    std::string(size > 2062 ? size - 2062 : 0, 'c'));
  }
  lines.push_back(std::string(2046, ' ') + "\r");  // CR at the end of a full buffer
  lines.push_back(std::string(2047, ' ') + "\r");
  lines.push_back(std::string(2048, ' ') + "filename=a.com");   // the tail after the dropped byte
  lines.push_back(std::string(2047, ' ') + "Xfilename=a.com");  // X is the dropped byte
  return lines;
}

std::string corpus_body(const std::vector<std::string>& lines) {
  std::string body;
  std::mt19937 random(7);
  for (const auto& line : lines) {
    body += line;
    body += (random() % 3 == 0) ? "\r\n" : "\n";
  }
  body += "filename=unterminated.exe";  // carried at the end
  return body;
}

void expect_same(const std::vector<std::string>& chunks, bool stop_on_match) {
  outcome expected = run(scanner::reference, chunks, stop_on_match);
  EXPECT_EQ(run(scanner::fast, chunks, stop_on_match), expected);
  EXPECT_EQ(run(scanner::fast_without_filter, chunks, stop_on_match), expected);
}

}  // namespace

TEST(body_scanner, whole_corpus_in_one_chunk_matches_plain_scan) {
  auto lines = corpus_lines();
  std::string body = corpus_body(lines);
  outcome expected = run(scanner::reference, {body}, false);
  EXPECT_GE(expected.seen.size(), 10u);  // the corpus really exercises matches
  EXPECT_EQ(run(scanner::fast, {body}, false), expected);
  expect_same({body}, true);
}

TEST(body_scanner, every_split_into_two_chunks_matches_plain_scan) {
  // The short lines at every cut, the long lines at cuts around their limits.
  auto lines = corpus_lines();
  std::string shorter = corpus_body({lines.begin(), lines.begin() + 29});
  for (std::size_t cut = 0; cut <= shorter.size(); ++cut) {
    SCOPED_TRACE(cut);
    expect_same({shorter.substr(0, cut), shorter.substr(cut)}, false);
    expect_same({shorter.substr(0, cut), shorter.substr(cut)}, true);
  }
  std::string body = corpus_body(lines);
  for (std::size_t cut = 0; cut <= body.size(); cut += 1 + cut % 97) {
    SCOPED_TRACE(cut);
    expect_same({body.substr(0, cut), body.substr(cut)}, false);
  }
}

TEST(body_scanner, random_chunking_matches_plain_scan) {
  std::string body = corpus_body(corpus_lines());
  std::mt19937 random(42);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < body.size();) {
      std::size_t size = 1 + random() % (round % 2 == 0 ? 64 : 5000);
      chunks.push_back(body.substr(at, size));
      at += size;
    }
    SCOPED_TRACE(round);
    expect_same(chunks, round % 3 == 0);
  }
}

TEST(body_scanner, chunk_beyond_scan_limit_is_scanned_only_that_far) {
  std::string filler;
  while (filler.size() < body_chunk_scan_limit - 20) filler += "QUJDREVGR0hJSktM=\r\n";
  filler.resize(body_chunk_scan_limit - 20, 'x');
  for (std::size_t pad = 0; pad < 30; ++pad) {
    std::string chunk = filler + std::string(pad, ' ') + "\nfilename=a.exe\n" + "filename=b.exe\n";
    SCOPED_TRACE(pad);
    expect_same({chunk, "filename=c.exe\n"}, false);
  }
}

TEST(body_scanner, stops_after_first_match_when_asked_and_resumes_next_chunk) {
  std::vector<std::string> chunks = {"filename=a.exe\nfilename=b.exe\npartial",
                                     " line\nfilename=c.exe\n"};
  outcome got = run(scanner::fast, chunks, true);
  // "filename=b.exe" and "partial" are never scanned; " line" is a line.
  EXPECT_EQ(got.seen, (std::vector<std::string>{"filename=a.exe", "filename=c.exe"}));
  EXPECT_EQ(got.stopped, (std::vector<bool>{true, true}));
  EXPECT_EQ(got.line_len, 0);
  EXPECT_EQ(got, run(scanner::reference, chunks, true));
}

TEST(body_scanner, line_of_3000_bytes_is_cut_after_2047_and_drops_byte_2048) {
  // Bytes 1..2047 form one line, byte 2048 ("X") is dropped, the rest is
  // the next line, which matches on its own.
  std::string line = std::string(2047, ' ') + "X" + "filename=a.exe";
  line += std::string(3000 - line.size(), ' ');
  outcome got = run(scanner::fast, {line + "\n"}, false);
  ASSERT_EQ(got.seen.size(), 0u);  // trailing spaces: the tail does not end in .exe
  got = run(scanner::fast, {std::string(2047, ' ') + "Xfilename=a.exe\n"}, false);
  EXPECT_EQ(got.seen, std::vector<std::string>{"filename=a.exe"});
}

TEST(body_scanner, carried_line_keeps_its_bytes_across_chunks) {
  outcome got = run(scanner::fast, {"first\nContent-Disposition: att", "achment; filena"}, false);
  EXPECT_EQ(got.carried, "Content-Disposition: attachment; filena");
  EXPECT_EQ(got.line_len, 39);
  got = run(scanner::fast, {"Content-Disposition: att", "achment; filena", "me=x.exe\r", "\n"},
            false);
  EXPECT_EQ(got.seen, std::vector<std::string>{"Content-Disposition: attachment; filename=x.exe"});
}

TEST(body_scanner, without_pattern_lines_are_cut_but_never_match) {
  char line[body_line_size] = {};
  int32_t line_len = 0;
  std::string chunk = "filename=a.exe\nrest";
  auto result =
      scan_body_chunk(line, line_len, reinterpret_cast<const unsigned char*>(chunk.data()),
                      chunk.size(), body_scan_pattern{nullptr, nullptr}, nullptr, nullptr);
  EXPECT_EQ(result.matches, 0u);
  EXPECT_EQ(std::string(line, 4), "rest");
  EXPECT_EQ(line_len, 4);
}

TEST(contains_ignoring_case, finds_needle_in_any_letter_case_only) {
  struct row {
    std::string text;
    bool found;
  };
  const row rows[] = {
      {"filename=", true},     {"xxFILENAME=yy", true}, {"FiLeNaMe=", true},    {"filename", false},
      {"filenam=e", false},    {"filename =", false},   {"=filename", false},   {"", false},
      {"f\xc9lename=", false}, {"filename\xbd", false}, {"==filename==", true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(contains_ignoring_case(r.text.data(), r.text.size(), "filename="), r.found) << r.text;
  }
  EXPECT_TRUE(contains_ignoring_case("ABCabc", 6, "cab"));  // needle ending in a letter
  EXPECT_FALSE(contains_ignoring_case("ABCAB", 5, "abcb"));
}

TEST(builtin_disposition_pattern, needs_filename_equals_outside_optional_parts) {
  // The fast scan skips lines without "filename=": this holds only while the
  // text stays at the top level of the pattern, after the optional prefix.
  const std::string text = default_disposition_pattern_text;
  EXPECT_EQ(text.rfind("^(Content-Disposition:.*;)?[   ]*filename=", 0), 0u);
}
