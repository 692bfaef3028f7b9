// The public RFC 7208 test suite (openspf.org, release 2014.04) run against
// the evaluator with each section's zone held in memory. The suite is read
// from the shared folder beside the checkout; the test is skipped where it
// is absent. Every test must give one of its acceptable results.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <sstream>

#include "spf/check_host.hpp"
#include "spf/spf_result.hpp"
#include "spf/zone_dns.hpp"

namespace {

std::string joined(const YAML::Node& value) {
  if (!value.IsSequence()) return value.as<std::string>();
  std::string text;
  for (const YAML::Node& part : value) text += part.as<std::string>();
  return text;
}

// A section's zonedata: "SPF" served as TXT unless the name has a "TXT"
// entry of its own ("TXT: NONE" is no record).
zone_dns zone_of(const YAML::Node& zonedata) {
  zone_dns zone;
  for (const auto& entry : zonedata) {
    std::string name = entry.first.as<std::string>();
    zone.add_name(name);
    bool own_txt = false;
    for (const YAML::Node& record : entry.second) {
      if (record.IsMap() && record["TXT"]) own_txt = true;
    }
    for (const YAML::Node& record : entry.second) {
      if (record.IsScalar()) {
        if (record.as<std::string>() == "TIMEOUT") zone.time_out(name);
        continue;
      }
      for (const auto& field : record) {
        std::string type = field.first.as<std::string>();
        const YAML::Node& value = field.second;
        if (type == "TXT" || (type == "SPF" && !own_txt)) {
          if (!(value.IsScalar() && value.as<std::string>() == "NONE")) {
            zone.add_txt(name, joined(value));
          }
        } else if (type == "A" || type == "AAAA") {
          zone.add_address(name, value.as<std::string>());
        } else if (type == "MX") {
          zone.add_mx(name, value[1].as<std::string>());
        } else if (type == "PTR") {
          zone.add_ptr(name, value.as<std::string>());
        } else if (type == "CNAME") {
          zone.add_cname(name, value.as<std::string>());
        }
      }
    }
  }
  return zone;
}

bool acceptable(const YAML::Node& expected, const std::string& result) {
  if (expected.IsScalar()) return expected.as<std::string>() == result;
  for (const YAML::Node& word : expected) {
    if (word.as<std::string>() == result) return true;
  }
  return false;
}

}  // namespace

TEST(rfc7208_suite, every_test_gives_an_acceptable_result) {
  const std::filesystem::path suite = TESLO_SPF_SUITE;
  if (!std::filesystem::exists(suite)) GTEST_SKIP() << "no RFC 7208 suite at " << suite;
  int run = 0;
  for (const YAML::Node& section : YAML::LoadAllFromFile(suite)) {
    for (const auto& test : section["tests"]) {
      zone_dns zone = zone_of(section["zonedata"]);
      const YAML::Node& fields = test.second;
      spf_request request;
      ASSERT_TRUE(parse_ip_address(fields["host"].as<std::string>(), request.client));
      request.helo = fields["helo"].as<std::string>();
      request.sender = fields["mailfrom"].as<std::string>();
      request.receiver = "receiver.test";
      spf_verdict verdict = check_host(request, zone);
      std::string result = spf_result_text(verdict.result);
      std::ostringstream expected;
      expected << fields["result"];
      EXPECT_TRUE(acceptable(fields["result"], result))
          << section["description"].as<std::string>() << " / " << test.first.as<std::string>()
          << ": got " << result << " (" << verdict.problem << "), want " << expected.str();
      ++run;
    }
  }
  EXPECT_EQ(run, 203);
}
