// SPF results and their texts.
//
// The numbers are those the SPF result cache, the context's `spf_result`,
// the recipient stage, the end-of-message actions and the metrics have
// always used (libspf2's numbering), so stored and counted values keep
// their meaning.
#pragma once

#include <cstdint>

namespace spf_code {
inline constexpr int32_t invalid = 0;
inline constexpr int32_t neutral = 1;
inline constexpr int32_t pass = 2;
inline constexpr int32_t fail = 3;
inline constexpr int32_t softfail = 4;
inline constexpr int32_t none = 5;
inline constexpr int32_t temperror = 6;
inline constexpr int32_t permerror = 7;
}  // namespace spf_code

// "neutral", "pass", "fail", "softfail", "none", "temperror", "permerror";
// "(invalid)" for 0 and any other number.
const char* spf_result_text(int32_t result);
