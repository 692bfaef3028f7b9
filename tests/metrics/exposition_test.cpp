// What the counters look like in the exposition: each count lands in its
// own labelled series, the latency histogram is cumulative with "+Inf" equal
// to "_count", and nothing is counted while counting is off.
#include "metrics/exposition.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "connection/verdicts.hpp"
#include "metrics/counters.hpp"

namespace {

using std::chrono::microseconds;
using std::chrono::seconds;

class exposition_test : public testing::Test {
 protected:
  void SetUp() override { reset_metrics(); }
  void TearDown() override { reset_metrics(); }

  static std::string rendered() {
    return render_metrics(take_metric_snapshot(), daemon_facts{TESLO_VERSION, 1765000000, 7});
  }
};

}  // namespace

TEST_F(exposition_test, counts_land_in_their_series) {
  count(metric::connections);  // counting still off: not counted
  enable_counting();
  count(metric::refused_eom_spf);
  count_check_hit(spam_check::spf, ACTION_HEADER);
  count_check_hit(spam_check::dnsbl, ACTION_QUARANTINE);
  count_check_hit(spam_check::dnsbl, ACTION_OFF);
  count_spf_evaluation(3, spf_source::cached);
  count_spf_evaluation(42, spf_source::fresh);
  count_dnsbl_lookup(metric::dnsbl_failure, microseconds(300));
  count_dnsbl_lookup(metric::dnsbl_listed, microseconds(3000));
  count_dnsbl_lookup(metric::dnsbl_listed, seconds(20));

  std::string text = rendered();
  for (const char* line : {
           "teslo_connections_total 0",
           "teslo_refusals_total{stage=\"eom\",reason=\"spf\"} 1",
           "teslo_refusals_total{stage=\"eom\",reason=\"dnsbl\"} 0",
           "teslo_check_hits_total{check=\"spf\",action=\"header\"} 1",
           "teslo_check_hits_total{check=\"dnsbl\",action=\"quarantine\"} 1",
           "teslo_check_hits_total{check=\"dnsbl\",action=\"header\"} 0",
           "teslo_spf_evaluations_total{result=\"fail\",source=\"cached\"} 1",
           "teslo_spf_evaluations_total{result=\"invalid\",source=\"fresh\"} 1",
           "teslo_dnsbl_lookups_total{outcome=\"listed\"} 2",
           "teslo_dnsbl_lookups_total{outcome=\"failure\"} 1",
           "teslo_dnsbl_lookup_duration_seconds_bucket{le=\"0.0005\"} 1",
           "teslo_dnsbl_lookup_duration_seconds_bucket{le=\"0.0025\"} 1",
           "teslo_dnsbl_lookup_duration_seconds_bucket{le=\"0.005\"} 2",
           "teslo_dnsbl_lookup_duration_seconds_bucket{le=\"10\"} 2",
           "teslo_dnsbl_lookup_duration_seconds_bucket{le=\"+Inf\"} 3",
           "teslo_dnsbl_lookup_duration_seconds_sum 20.003300000",
           "teslo_dnsbl_lookup_duration_seconds_count 3",
           "teslo_spf_cache_entries 7",
           "teslo_start_time_seconds 1765000000",
           "teslo_build_info{version=\"" TESLO_VERSION "\"} 1",
       }) {
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line;
  }
}

TEST_F(exposition_test, every_family_has_help_and_type_before_its_samples) {
  std::string text = rendered();
  std::string family;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    if (line.starts_with("# HELP ")) {
      family = line.substr(7, line.find(' ', 7) - 7);
      continue;
    }
    if (line.starts_with("# TYPE ")) {
      EXPECT_TRUE(line.starts_with("# TYPE " + family + " ")) << line;
      continue;
    }
    EXPECT_TRUE(line.starts_with(family)) << line << " after the HELP of " << family;
  }
}
