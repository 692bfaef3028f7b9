// Asking SPF questions: a question is started when the envelope sender is
// known and its answer taken when a stage needs it.
//
// In the daemon every question goes to an evaluation process
// (start_evaluation_processes, spf/evaluator_pool.hpp): a crash or an
// overrun there costs that one answer, and the process is replaced. Until
// that is called (unit tests, fuzz targets, benchmarks) a question is
// evaluated in this process, on the thread that takes its answer.
#pragma once

#include <memory>

#include "spf/spf_question.hpp"

class pending_spf {
 public:
  virtual ~pending_spf() = default;  // a question whose answer is never taken is abandoned
  // The answer; waits at most until the question's time limit, counted from
  // when it was asked. Call once.
  virtual spf_evaluation answer() = 0;
};

// Never null.
std::unique_ptr<pending_spf> ask_spf(const spf_question& question);

// How questions are answered (the evaluator pool installs its own).
using spf_question_taker = std::unique_ptr<pending_spf> (*)(const spf_question& question);
void set_spf_question_taker(spf_question_taker taker);
