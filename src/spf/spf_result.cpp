// SPF result texts (see spf_result.hpp).
#include "spf/spf_result.hpp"

const char* spf_result_text(int32_t result) {
  switch (result) {
    case spf_code::neutral: return "neutral";
    case spf_code::pass: return "pass";
    case spf_code::fail: return "fail";
    case spf_code::softfail: return "softfail";
    case spf_code::none: return "none";
    case spf_code::temperror: return "temperror";
    case spf_code::permerror: return "permerror";
    default: return "(invalid)";
  }
}
