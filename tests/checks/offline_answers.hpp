// Building blocks of the offline DNS seams, shared by the unit tests'
// offline_dns.cpp and the fuzz targets' offline_seams.cpp: blocklist answers
// built by hand (released by release_answers, the release half of the
// blocklist resolver seam) and an SPF zone layer with no layer below it, so
// that a name it does not hold does not exist and no question leaves the
// process.
//
// Single-threaded set-up code: the zone is replaced only while no SPF check
// runs.
#pragma once

#include <arpa/nameser.h>
#include <netdb.h>

extern "C" {
#include <spf2/spf.h>
}

namespace offline_answers {

// A blocklist answer holding the address `text` (calloc'd), in front of `next`.
addrinfo* ipv4_answer(const char* text, addrinfo* next = nullptr);
addrinfo* ipv6_answer(const char* text, addrinfo* next = nullptr);
// Frees a chain of answers built above.
void release_answers(addrinfo* answers);

// Replaces the SPF zone (freeing the one before) with an empty zone called
// `name`. Aborts when libspf2 cannot make it: nothing offline would be left.
void new_spf_zone(const char* name);
// Frees the SPF zone; make_zone_server must not be called afterwards.
void free_spf_zone();
// Adds a record (`type` ns_t_txt, ns_t_a, ...) to the SPF zone; false on error.
bool add_zone_record(const char* domain, ns_type type, const char* text);
// An SPF server that asks the zone; the SPF step's server-maker seam.
SPF_server_t* make_zone_server();

}  // namespace offline_answers
