// The evaluation channel's packets (see evaluator_wire.hpp).
#include "spf/evaluator_wire.hpp"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "spf/spf_result.hpp"

namespace {

template <typename packet>
bool send_packet(int channel, const packet& data) {
  ssize_t sent;
  do {
    sent = send(channel, &data, sizeof data, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(sizeof data);
}

// MSG_TRUNC makes recv report a longer packet's whole length, so one that
// does not fit is told apart from one that does.
template <typename packet>
bool receive_packet(int channel, packet& data) {
  ssize_t received;
  do {
    received = recv(channel, &data, sizeof data, MSG_TRUNC);
  } while (received < 0 && errno == EINTR);
  return received == static_cast<ssize_t>(sizeof data);
}

}  // namespace

bool send_question(int channel, const spf_question& question) {
  return send_packet(channel, question);
}

bool receive_question(int channel, spf_question& question) {
  return receive_packet(channel, question) && spf_question_is_terminated(question);
}

bool send_answer(int channel, const spf_evaluation& outcome) {
  spf_answer_packet packet{};
  packet.kind = static_cast<uint8_t>(outcome.kind);
  packet.result = outcome.result;
  packet.macro_letters = outcome.macro_letters;
  std::memcpy(packet.problem, outcome.problem, sizeof packet.problem);
  packet.problem[sizeof packet.problem - 1] = '\0';
  return send_packet(channel, packet);
}

bool receive_answer(int channel, spf_evaluation& outcome) {
  spf_answer_packet packet{};
  if (!receive_packet(channel, packet)) return false;
  if (packet.kind != spf_evaluation::answered) return false;
  if (packet.result < spf_code::invalid || packet.result > spf_code::permerror) return false;
  if (std::memchr(packet.problem, '\0', sizeof packet.problem) == nullptr) return false;
  outcome = spf_evaluation{};
  outcome.kind = spf_evaluation::answered;
  outcome.result = packet.result;
  outcome.macro_letters = packet.macro_letters;
  std::memcpy(outcome.problem, packet.problem, sizeof outcome.problem);
  return true;
}
