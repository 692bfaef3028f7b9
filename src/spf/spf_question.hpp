// One SPF question and its answer, as plain data: what an evaluation needs
// from the message (client, HELO name, envelope sender, receiving host) and
// what it gives back. The question crosses the channel to an evaluation
// process as it is, the answer as its answer packet
// (spf/evaluator_wire.hpp), so both hold fixed-size texts only.
#pragma once

#include <cstdint>

struct spf_question {
  char client_addr[64];    // IPv4 or IPv6 text
  uint8_t client_is_ipv6;  // 1: client_addr is IPv6 text
  char helo_name[128];
  char sender_addr[256];  // envelope sender, no brackets
  char receiver_host[128];
  uint16_t seconds_allowed;  // the time limit; the evaluation process ends itself
                             // a little after it, should nobody else end it
};

// Why an evaluation gave no answer at all.
enum class spf_fault : uint8_t {
  none,
  died,        // the evaluation process ended (a signal, or exited)
  timed_out,   // it ran past the time limit and was killed
  unavailable  // no evaluation process could be started
};

struct spf_evaluation {
  enum kind_t : uint8_t {
    answered,  // `result` holds the SPF result (spf/spf_result.hpp)
    failed     // `fault` says why there is no answer
  } kind = failed;
  int32_t result = 0;
  // answered: the macro letters expanded (spf/check_host.hpp, macro_bit)
  uint32_t macro_letters = 0;
  char problem[96] = {};  // answered with temperror or permerror: what went wrong
  spf_fault fault = spf_fault::none;
  int signal = 0;  // with died: the signal that ended the process, or 0
};

// True when every text of the question ends within its field (a question
// read from a channel is checked before use).
bool spf_question_is_terminated(const spf_question& question);
