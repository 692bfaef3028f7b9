// Undoes a part's transfer encoding as its lines arrive (GMime's decoders).
//
// Base64 and quoted-printable are decoded; any other encoding is taken as
// it stands. Input may be cut anywhere: the decoder keeps what it needs
// between calls. Not shared between threads.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "message/part_header.hpp"

class part_decoder {
 public:
  explicit part_decoder(part_encoding encoding);
  ~part_decoder();
  part_decoder(const part_decoder&) = delete;
  part_decoder& operator=(const part_decoder&) = delete;

  // Decodes `length` bytes and appends the result to `out`.
  void decode(const char* data, std::size_t length, std::string& out);
  // Appends whatever the decoder still holds (the end of the part).
  void flush(std::string& out);

 private:
  struct state;
  std::unique_ptr<state> state_;
};
