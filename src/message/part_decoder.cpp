// Transfer-encoding decoding with GMime (see part_decoder.hpp).
#include "message/part_decoder.hpp"

#include <gmime/gmime.h>

struct part_decoder::state {
  GMimeEncoding encoding;
};

part_decoder::part_decoder(part_encoding encoding) : state_(std::make_unique<state>()) {
  GMimeContentEncoding kind = GMIME_CONTENT_ENCODING_BINARY;
  if (encoding == part_encoding::base64) kind = GMIME_CONTENT_ENCODING_BASE64;
  if (encoding == part_encoding::quoted_printable) kind = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
  g_mime_encoding_init_decode(&state_->encoding, kind);
}

part_decoder::~part_decoder() = default;

void part_decoder::decode(const char* data, std::size_t length, std::string& out) {
  if (length == 0) return;
  std::size_t at = out.size();
  out.resize(at + g_mime_encoding_outlen(&state_->encoding, length));
  std::size_t written = g_mime_encoding_step(&state_->encoding, data, length, out.data() + at);
  out.resize(at + written);
}

void part_decoder::flush(std::string& out) {
  std::size_t at = out.size();
  out.resize(at + g_mime_encoding_outlen(&state_->encoding, 0) + 4);
  std::size_t written = g_mime_encoding_flush(&state_->encoding, "", 0, out.data() + at);
  out.resize(at + written);
}
