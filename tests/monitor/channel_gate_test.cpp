// The monitor's channel: what a filter process may ask, and when.
#include "monitor/channel_gate.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct gate_case {
  const char* name;
  bool metrics_file;
  std::vector<std::string> earlier;  // packets served before, in order
  std::string packet;
  bool truncated;
  channel_action expected;
};

class gate_cases : public testing::TestWithParam<gate_case> {};

TEST_P(gate_cases, judges_each_request_by_the_life_cycle) {
  const gate_case& c = GetParam();
  channel_gate gate(c.metrics_file);
  for (const std::string& packet : c.earlier) {
    ASSERT_NE(gate.judge(packet, false).action, channel_action::fault) << packet;
  }
  channel_verdict verdict = gate.judge(c.packet, c.truncated);
  EXPECT_EQ(verdict.action, c.expected);
  EXPECT_EQ(verdict.fault_reason != nullptr, c.expected == channel_action::fault);
}

const std::string nul_text("a\0b", 3);

INSTANTIATE_TEST_SUITE_P(
    channel, gate_cases,
    testing::Values(
        gate_case{"ready_at_start", false, {}, "R", false, channel_action::mark_ready},
        gate_case{"ready_twice", false, {"R"}, "R", false, channel_action::fault},
        gate_case{"ready_with_data", false, {}, "Rx", false, channel_action::fault},
        gate_case{"metrics_once_serving",
                  true,
                  {"R"},
                  "Mteslo_up 1\n",
                  false,
                  channel_action::write_metrics},
        gate_case{
            "metrics_again", true, {"R", "Ma 1\n"}, "Ma 2\n", false, channel_action::write_metrics},
        gate_case{"metrics_before_ready", true, {}, "Ma 1\n", false, channel_action::fault},
        gate_case{"metrics_without_file", false, {"R"}, "Ma 1\n", false, channel_action::fault},
        gate_case{"metrics_empty", true, {"R"}, "M", false, channel_action::fault},
        gate_case{"metrics_with_nul", true, {"R"}, "M" + nul_text, false, channel_action::fault},
        gate_case{"spawner_once_serving", false, {"R"}, "S", false, channel_action::start_spawner},
        gate_case{"spawner_again", false, {"R", "S"}, "S", false, channel_action::start_spawner},
        gate_case{"spawner_before_ready", false, {}, "S", false, channel_action::fault},
        gate_case{"spawner_with_data", false, {"R"}, "S/bin/sh", false, channel_action::fault},
        gate_case{"archive_spawner", false, {"R", "S"}, "A", false, channel_action::start_spawner},
        gate_case{"archive_spawner_before_ready", false, {}, "A", false, channel_action::fault},
        gate_case{"too_long", true, {"R"}, "Ma", true, channel_action::fault},
        gate_case{"empty_packet", true, {"R"}, "", false, channel_action::fault},
        gate_case{"unknown_request", true, {"R"}, "X/etc/shadow", false, channel_action::fault}),
    [](const testing::TestParamInfo<gate_case>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
