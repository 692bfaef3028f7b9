// One SPF evaluation in the calling process: the question's client, HELO
// name and sender checked with check_host (spf/check_host.hpp), its DNS
// answers from the source make_spf_dns gives (spf/spf_dns.hpp: the system
// resolver in the evaluation program), all within the question's time
// limit: a question still unanswered a little before the limit fails, and
// the result is then a temperror rather than no answer at all.
//
// The answer is always "answered", with the macro letters the evaluation
// expanded; temperror and permerror carry what went wrong as the problem.
//
// The daemon never calls this in the process that serves Sendmail: it runs
// in an evaluation process (spf_evaluator/evaluator_process.hpp), where a
// fault costs one answer. Unit tests and fuzz targets call it directly,
// with the DNS source they install (tests/support/scripted_spf_dns.hpp).
#pragma once

#include "spf/spf_question.hpp"

spf_evaluation evaluate_spf(const spf_question& question);
