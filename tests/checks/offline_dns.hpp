// Keeps the unit tests off the network: a blocklist resolver and an SPF DNS
// layer that answer only what a test put in them.
//
// Installed for the whole unit-test run by a global test environment, so a
// stage test that reaches the blocklist lookup or the SPF step never asks
// the host's resolver. Tests that install their own fakes restore these.
#pragma once

#include <string>
#include <vector>

namespace offline_dns {

// The blocklist resolver answers `name` with the IPv4 address `answer`.
void list_name(const std::string& name, const std::string& answer = "127.0.0.2");
// Adds a TXT record (an SPF policy) for `domain` to the SPF zone.
void add_spf_record(const char* domain, const char* text);
// Forgets every listed name, every question and every SPF record.
void reset();
// The names the blocklist resolver was asked, in order.
std::vector<std::string> blocklist_questions();

}  // namespace offline_dns
