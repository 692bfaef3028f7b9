// Building blocks of the offline DNS seams, shared by the unit tests'
// offline_dns.cpp and the fuzz targets' offline_seams.cpp: blocklist answers
// built by hand (released by release_answers, the release half of the
// blocklist resolver seam) and an in-memory SPF zone (spf/zone_dns.hpp): a
// name it does not hold does not exist, and no question leaves the process.
//
// Single-threaded set-up code: the zone is replaced only while no SPF check
// runs.
#pragma once

#include <arpa/nameser.h>
#include <netdb.h>

#include <chrono>
#include <memory>

#include "dns/dns_source.hpp"

namespace offline_answers {

// A blocklist answer holding the address `text` (calloc'd), in front of `next`.
addrinfo* ipv4_answer(const char* text, addrinfo* next = nullptr);
addrinfo* ipv6_answer(const char* text, addrinfo* next = nullptr);
// Frees a chain of answers built above.
void release_answers(addrinfo* answers);

// Replaces the SPF zone with an empty one (`name` only names it).
void new_spf_zone(const char* name);
// Empties the SPF zone.
void free_spf_zone();
// Adds a record (`type` ns_t_txt, ns_t_a, ns_t_aaaa, ns_t_mx, ns_t_ptr) to
// the SPF zone; false for another type or an address that is not one.
bool add_zone_record(const char* domain, ns_type type, const char* text);
// A DNS source that asks the zone, for set_spf_dns_maker
// (support/scripted_spf_dns.hpp).
std::unique_ptr<dns_source> make_zone_dns(std::chrono::steady_clock::time_point deadline);

}  // namespace offline_answers
