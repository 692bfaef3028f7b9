// Cuts body chunks into lines and tests each line against the attachment
// pattern.
//
// The line being assembled carries over from one chunk to the next in a
// 2048-byte buffer and its length, so a line may span chunks. A line ends at
// a line feed, or when 2047 bytes are held (the byte that would be the 2048th
// is then dropped and the next line starts after it). A carriage return right
// before the end of a line is not part of the line. Only the first 262144
// bytes of a chunk are scanned.
//
// Fast path: line ends are found with memchr, and a line is copied and given
// to regexec only when it holds `required_text` (letters in any case), a text
// without which the pattern cannot match. Verdicts and the carried line
// (its length and its first `line_len` bytes) are the same as when every line
// is assembled byte by byte and given to regexec.
//
// The fast path is kept for this figure: on a 10 MB body in 64 KiB chunks
// teslo_body scans 6,737 MB/s, the plain loop that gives every line to
// regexec 1,330 MB/s (5.1 times slower; bench/body_scan_bench, this 2-core
// machine). Its equivalence test against the plain way:
// body_scanner.random_chunking_matches_plain_scan (tests/message).
//
// Pure: no logging, no libmilter. Called by teslo_body on the connection's
// worker thread; the compiled pattern is shared and only used with regexec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <regex.h>

inline constexpr std::size_t body_line_size = 2048;           // buffer, terminator included
inline constexpr std::size_t body_chunk_scan_limit = 262144;  // bytes scanned per chunk

// Called for each matching line with the chunk offset just past the byte
// that ended it; returns true to stop scanning the chunk.
using body_match_hook = bool (*)(void* user, std::size_t line_end);

struct body_scan_pattern {
  const regex_t* pattern;     // null: lines are assembled but never matched
  const char* required_text;  // lower-case letters, digits and punctuation; null: test every line
};

struct body_scan_result {
  std::size_t matches;  // lines that matched
  bool stopped;         // the hook asked to stop; the rest of the chunk was not scanned
};

// Scans `chunk` and updates `line`/`line_len` (the carried line). `line_len`
// must be 0 to 2047 on entry and is so on return.
body_scan_result scan_body_chunk(char (&line)[body_line_size], int32_t& line_len,
                                 const unsigned char* chunk, std::size_t length,
                                 const body_scan_pattern& pattern, body_match_hook hook,
                                 void* user);

// True when `text` (length bytes, not terminated) holds `needle` with letters
// compared ignoring ASCII case. `needle` must be lower-case and must end in a
// byte that is not a letter.
bool contains_ignoring_case(const char* text, std::size_t length, const char* needle);
