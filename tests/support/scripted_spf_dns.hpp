// The SPF evaluation's DNS source in the test programs (spf/spf_dns.hpp),
// linked in place of the system resolver: it asks no name server; a test
// installs the maker of the source that answers its names (an in-memory
// zone). Until one is installed, no name exists.
#pragma once

#include <chrono>
#include <memory>

#include "dns/dns_source.hpp"

// Makes the DNS source of one evaluation, answering until `deadline`.
using spf_dns_maker =
    std::unique_ptr<dns_source> (*)(std::chrono::steady_clock::time_point deadline);

// Replaces the maker and returns the old one; null installs the one whose
// source finds no name. Callable from any thread; an evaluation already
// running keeps the source it made.
spf_dns_maker set_spf_dns_maker(spf_dns_maker maker);
