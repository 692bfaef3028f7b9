// Asking SPF questions: a question is started when the envelope sender is
// known and its answer taken when a stage needs it.
//
// In the daemon every question goes to an evaluation process
// (spf/evaluator_pool.hpp): a crash or an overrun there costs that one
// answer, and the process is replaced. Before start_evaluation_processes
// and after stop_evaluation_processes the answer is a fault.
//
// ask_spf's definition (spf_asker.cpp) is an edge of the product, kept out
// of the core library: the unit tests, fuzz targets and benchmarks link one
// that evaluates in their own process instead (tests/support/in_process_spf).
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
