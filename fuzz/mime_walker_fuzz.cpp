// Fuzzes the MIME walker (the part-header reader: GMime's parameter parsing
// with RFC 2231 and RFC 2047, unfolding, boundaries, nesting, the decoding
// of archive parts) with a message's Content-Type and body. The first input
// byte chooses where the body is cut into chunks; the text up to the first
// line feed is the Content-Type, the rest the body. Checks: the message fed
// in chunks gives the same findings, in the same order, as fed whole; with
// raw-pattern matches reported after every chunk, the findings are some of
// those, in the same order (a raw match only spares a part its report); no
// archive handed over is past the size bound.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "message/mime_walker.hpp"
#include "spamconfig/harmful_extensions.hpp"

namespace {

struct recorder final : mime_walker::observer {
  std::vector<std::string> seen;
  void harmful_part(const std::string& name) override { seen.push_back("harmful:" + name); }
  void archive_part(const std::string& name, const std::string& content) override {
    if (content.size() > archive_size_limit) std::abort();
    seen.push_back("archive:" + name + ":" + content);
  }
  void archive_not_collected(const std::string& name, unlisted why) override {
    seen.push_back("unlisted:" + name + (why == unlisted::too_large ? ":large" : ":many"));
  }
};

std::vector<std::string> walk(const std::string& type, const std::string& body, std::size_t step,
                              bool raw_matches) {
  recorder found;
  mime_walker walker(default_harmful_extensions, true);
  walker.message_header("Content-Type", type.c_str());
  if (walker.start_body(found)) {
    for (std::size_t at = 0; at < body.size(); at += step) {
      std::size_t n = std::min(step, body.size() - at);
      walker.feed(reinterpret_cast<const unsigned char*>(body.data() + at), n, found);
      if (raw_matches) walker.raw_match();
    }
  }
  walker.finish(found);
  return found.seen;
}

bool in_order_within(const std::vector<std::string>& some, const std::vector<std::string>& all) {
  auto at = all.begin();
  for (const std::string& item : some) {
    at = std::find(at, all.end(), item);
    if (at == all.end()) return false;
    ++at;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::size_t step = 1 + data[0] % 64;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t end = text.find('\n');
  std::string type = text.substr(0, end);
  std::string body = end == std::string::npos ? "" : text.substr(end + 1);
  std::vector<std::string> whole = walk(type, body, body.size() + 1, false);
  if (walk(type, body, step, false) != whole) std::abort();
  if (!in_order_within(walk(type, body, step, true), whole)) std::abort();
  return 0;
}
