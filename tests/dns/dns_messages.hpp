// DNS messages built byte by byte for the tests: the answers the parser
// reads and the test server sends.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace dns_messages {

using bytes = std::vector<unsigned char>;

// Header flag bits (second 16-bit word).
inline constexpr uint16_t response_bit = 0x8000;
inline constexpr uint16_t truncated_bit = 0x0200;
inline constexpr uint16_t recursion_bits = 0x0180;  // RD and RA

// A name in wire form, labels uncompressed ("" is the root).
bytes name(const std::string& dotted);
// A compression pointer to `offset` (12: the question's name).
bytes pointer(uint16_t offset);
bytes concat(std::initializer_list<bytes> parts);

// Record data.
bytes a(const char* text);
bytes aaaa(const char* text);
bytes txt(std::initializer_list<std::string> strings);
bytes mx(uint16_t preference, const bytes& exchange);

// One resource record of class `record_class`.
bytes record(const bytes& owner, uint16_t type, const bytes& data, uint16_t record_class = 1);

// A response: header, the one question (name, type, class IN), the answer
// records. `flags` adds to QR, RD and RA; the RCODE is its low four bits.
bytes response(uint16_t id, uint16_t flags, const std::string& question, uint16_t type,
               const std::vector<bytes>& answers);

}  // namespace dns_messages
