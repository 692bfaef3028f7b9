// The channel between the serving process and an evaluation process: a
// SOCK_SEQPACKET socket pair, one question or one answer per packet, each
// of fixed size. Nothing else crosses it; a packet of another size ends the
// conversation.
//
// An answer packet is checked before it is used: its kind is "answered"
// (only the serving side decides that an evaluation failed), its result is
// a known SPF code (0 to 7) and its problem text ends within its field.
// Anything else is treated as a broken channel.
#pragma once

#include <cstdint>

#include "spf/spf_question.hpp"

// The answer packet: what the evaluation gave.
struct spf_answer_packet {
  uint8_t kind;
  int32_t result;
  uint32_t macro_letters;
  char problem[sizeof spf_evaluation::problem];
};

// Each returns false when the channel is closed or broken, or the packet is
// not one whole, valid question or answer. Calls are restarted after EINTR.
bool send_question(int channel, const spf_question& question);
bool receive_question(int channel, spf_question& question);
bool send_answer(int channel, const spf_evaluation& outcome);
bool receive_answer(int channel, spf_evaluation& outcome);
