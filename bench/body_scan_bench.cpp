// Speed of the harmful-attachment body scan.
//
// Feeds a message body of a few hundred ordinary lines and a 10 MB base64
// attachment, in 64 KiB chunks as Sendmail sends them, through teslo_body
// (with the recording fake libmilter in place of the real one), and through
// a plain loop that finds each line, copies it and calls regexec with the
// same compiled pattern on every line (and, for reference, the same one byte
// at a time). Prints MB/s of each, measured in the same run, and the ratio of
// the callback to the plain loop. Fails when they found different lines.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connection/callbacks.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/spam_settings.hpp"
#include "support/log_writer.hpp"

namespace {

constexpr std::size_t chunk_size = 65535;
constexpr int rounds = 7;

std::string make_body() {
  std::string body;
  for (int i = 0; i < 300; ++i) {
    body += "This is line " + std::to_string(i) +
            " of an ordinary letter, with a = sign now and then.\r\n";
  }
  body += "--boundary\r\nContent-Type: application/octet-stream; name=\"setup.exe\"\r\n";
  body += "Content-Transfer-Encoding: base64\r\n";
  body += "Content-Disposition: attachment;\r\n filename=\"setup.exe\"\r\n\r\n";
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  unsigned seed = 1;
  const std::size_t target = body.size() + std::size_t{10} * 1000 * 1000;
  while (body.size() < target) {
    for (int i = 0; i < 76; ++i) {
      seed = seed * 1103515245u + 12345u;
      body += alphabet[(seed >> 16) % 64];
    }
    body += "\r\n";
  }
  body += "AAAA==\r\n--boundary--\r\n";
  return body;
}

std::size_t matches_seen = 0;
void count_log(int, const char* text) {
  if (std::strncmp(text, "harmful attachment:", 19) == 0) ++matches_seen;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The plain way: memchr for the line end, copy the line, regexec every line.
std::size_t plain_scan(const std::string& body, const regex_t& pattern) {
  char line[2048];
  std::size_t held = 0, found = 0;
  for (std::size_t at = 0; at < body.size(); at += chunk_size) {
    const char* chunk = body.data() + at;
    const std::size_t size = std::min(chunk_size, body.size() - at);
    std::size_t pos = 0;
    while (pos < size) {
      const char* end = static_cast<const char*>(std::memchr(chunk + pos, '\n', size - pos));
      std::size_t take = (end == nullptr ? size : static_cast<std::size_t>(end - chunk)) - pos;
      take = std::min(take, sizeof line - 1 - held);
      std::memcpy(line + held, chunk + pos, take);
      held += take;
      pos += take;
      if (end == nullptr && pos == size) break;  // the line goes on in the next chunk
      ++pos;
      if (held != 0 && line[held - 1] == '\r') --held;
      line[held] = '\0';
      held = 0;
      if (regexec(&pattern, line, 0, nullptr, 0) == 0) ++found;
    }
  }
  return found;
}

// The same, one byte at a time, as the scan rules are written down.
std::size_t bytewise_scan(const std::string& body, const regex_t& pattern) {
  char line[2048];
  int held = 0;
  std::size_t found = 0;
  for (char byte : body) {
    line[held] = byte;
    if (byte != '\n' && held != 2047) {
      ++held;
      continue;
    }
    line[held != 0 && line[held - 1] == '\r' ? held - 1 : held] = '\0';
    held = 0;
    if (regexec(&pattern, line, 0, nullptr, 0) == 0) ++found;
  }
  return found;
}

}  // namespace

int main() {
  set_log_writer(count_log);
  std::shared_ptr<spam_config_record> settings = make_spam_config_record();
  if (!settings) return 1;
  set_spam_config_defaults(*settings);
  compile_builtin_patterns();
  compile_disposition_pattern(*settings);
  settings->disposition = ACTION_HEADER;
  publish_spam_settings(settings);
  const regex_t& disposition_pattern = settings->disposition_regex;

  const std::string body = make_body();
  const double megabytes = static_cast<double>(body.size()) / 1e6;

  double best_callback = 1e9, best_plain = 1e9, best_bytewise = 1e9;
  std::size_t callback_found = 0, plain_found = 0, bytewise_found = 0;
  for (int round = 0; round < rounds; ++round) {
    fake_milter::session smtp(filter_description);
    smtp.connect("client.example", "192.0.2.7");
    smtp.eoh();
    std::vector<unsigned char> bytes(body.begin(), body.end());
    matches_seen = 0;
    auto start = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < bytes.size(); at += chunk_size) {
      teslo_body(smtp.handle(), bytes.data() + at, std::min(chunk_size, bytes.size() - at));
    }
    best_callback = std::min(best_callback, seconds_since(start));
    callback_found = matches_seen;

    start = std::chrono::steady_clock::now();
    plain_found = plain_scan(body, disposition_pattern);
    best_plain = std::min(best_plain, seconds_since(start));

    start = std::chrono::steady_clock::now();
    bytewise_found = bytewise_scan(body, disposition_pattern);
    best_bytewise = std::min(best_bytewise, seconds_since(start));
  }
  std::printf("body: %.1f MB in %zu-byte chunks, best of %d rounds\n", megabytes, chunk_size,
              rounds);
  std::printf("teslo_body callback:            %8.0f MB/s (%zu matching lines)\n",
              megabytes / best_callback, callback_found);
  std::printf("plain loop, regexec every line: %8.0f MB/s (%zu matching lines)\n",
              megabytes / best_plain, plain_found);
  std::printf("plain loop, byte at a time:     %8.0f MB/s (%zu matching lines)\n",
              megabytes / best_bytewise, bytewise_found);
  std::printf("ratio callback / plain loop:    %8.2f\n", best_plain / best_callback);
  return callback_found == plain_found && plain_found == bytewise_found ? 0 : 1;
}
