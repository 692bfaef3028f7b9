// Checking a question read from a channel (see spf_question.hpp).
#include "spf/spf_question.hpp"

#include <cstring>

namespace {

template <std::size_t size>
bool terminated(const char (&text)[size]) {
  return std::memchr(text, '\0', size) != nullptr;
}

}  // namespace

bool spf_question_is_terminated(const spf_question& question) {
  return terminated(question.client_addr) && terminated(question.helo_name) &&
         terminated(question.sender_addr) && terminated(question.receiver_host);
}
