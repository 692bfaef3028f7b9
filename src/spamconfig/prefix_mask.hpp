// The network mask of an IPv4 prefix length, in host order.
#pragma once

#include <cstdint>

// 0 for length 0, all ones for 32 and above.
constexpr uint32_t prefix_mask(unsigned prefix) {
  if (prefix == 0) return 0;
  if (prefix >= 32) return 0xFFFFFFFFu;
  return 0xFFFFFFFFu << (32 - prefix);
}
