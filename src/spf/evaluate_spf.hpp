// One SPF evaluation in the calling process: the question's client, HELO
// name and sender checked with check_host (spf/check_host.hpp), its DNS
// answers from the system resolver (dns/resolver_source.hpp), all within
// the question's time limit: a question still unanswered a little before
// the limit fails, and the result is then a temperror rather than no
// answer at all.
//
// The answer is always "answered", with the macro letters the evaluation
// expanded; temperror and permerror carry what went wrong as the problem.
//
// The daemon never calls this in the process that serves Sendmail: it runs
// in an evaluation process (spf_evaluator/evaluator_process.hpp), where a fault costs
// one answer. Unit tests and fuzz targets call it directly.
#pragma once

#include <chrono>
#include <memory>

#include "dns/dns_source.hpp"
#include "spf/spf_question.hpp"

spf_evaluation evaluate_spf(const spf_question& question);

// Makes the DNS source of one evaluation, answering until `deadline`. The
// default asks the system resolver; unit tests put an in-memory zone in its
// place.
using spf_dns_maker =
    std::unique_ptr<dns_source> (*)(std::chrono::steady_clock::time_point deadline);

// Replaces the maker (nullptr restores the resolver one); returns the old one.
// Only for tests and benchmarks, before any evaluation runs.
spf_dns_maker set_spf_dns_maker(spf_dns_maker maker);
