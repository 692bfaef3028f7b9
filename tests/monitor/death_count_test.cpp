// Filter processes killed by a signal: the sixth within a minute is too many.
#include "monitor/death_count.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::seconds;

struct death_case {
  const char* name;
  std::vector<int> at;  // seconds after the first death
  bool too_many_at_last;
};

class death_cases : public testing::TestWithParam<death_case> {};

TEST_P(death_cases, counts_the_last_minute) {
  death_count deaths;
  auto start = death_count::clock::time_point{} + seconds(1000);
  bool too_many = false;
  for (int second : GetParam().at) too_many = deaths.too_many_after(start + seconds(second));
  EXPECT_EQ(too_many, GetParam().too_many_at_last);
}

INSTANTIATE_TEST_SUITE_P(
    monitor, death_cases,
    testing::Values(death_case{"one", {0}, false},
                    death_case{"five_at_once", {0, 0, 0, 0, 0}, false},
                    death_case{"six_at_once", {0, 0, 0, 0, 0, 0}, true},
                    death_case{"six_within_59_s", {0, 10, 20, 30, 40, 59}, true},
                    death_case{"the_first_aged_out", {0, 10, 20, 30, 40, 60}, false},
                    death_case{"seven_spread_out", {0, 30, 61, 62, 63, 64, 65}, true}),
    [](const testing::TestParamInfo<death_case>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
