// The DNS source an SPF evaluation asks (spf/evaluate_spf.hpp).
//
// make_spf_dns's definition (spf_dns.cpp) is an edge of the product, kept
// out of the core library: the evaluation program asks the system resolver
// (dns/resolver_source.hpp); the unit tests, fuzz targets, benchmarks and
// test helper programs link a source the test installs instead
// (tests/support/scripted_spf_dns), so no test question leaves the process.
#pragma once

#include <chrono>
#include <memory>

#include "dns/dns_source.hpp"

// Makes the DNS source of one evaluation, answering until `deadline`.
// Never null. Called on the evaluating thread.
std::unique_ptr<dns_source> make_spf_dns(std::chrono::steady_clock::time_point deadline);
