// The monitor's own reader of orvane.conf gives for "user", "socketgroup"
// and "metricsfile" exactly what the full loader gives, line syntax and all.
#include "monitor/monitor_keys.hpp"

#include <gtest/gtest.h>

#include <string>

#include "copyrules/rule_files.hpp"
#include "spamconfig/config_loader.hpp"

namespace {

std::string or_none(const char* text) { return text != nullptr ? text : "(none)"; }
std::string or_none(const std::optional<std::string>& text) { return text ? *text : "(none)"; }

class monitor_keys_reading : public testing::TestWithParam<const char*> {};

TEST_P(monitor_keys_reading, agrees_with_the_full_loader) {
  copyrules_test::rule_dir dir;
  std::string path = dir.write("orvane.conf", GetParam());
  spam_config_load full = load_spam_config(path.c_str());
  ASSERT_TRUE(full.settings);
  monitor_keys keys = read_monitor_keys(path.c_str());
  EXPECT_EQ(keys.user, or_none(full.settings->user));
  EXPECT_EQ(or_none(keys.socketgroup), or_none(full.settings->socketgroup));
  EXPECT_EQ(or_none(keys.metricsfile), or_none(full.settings->metricsfile));
}

const std::string long_line = "metricsfile /a" + std::string(240, 'b') + " x\nuser late\n";
const std::string long_tail = "user " + std::string(260, 'u') + "\n";
const std::string cut_key = std::string(250, ' ') + "user tail\n";

INSTANTIATE_TEST_SUITE_P(
    lines, monitor_keys_reading,
    testing::Values("", "user mailfilter\nsocketgroup postfix\nmetricsfile /var/lib/t.prom\n",
                    "USER Upper\nSocketGroup Mixed\nMETRICSFILE /m\n", "user first\nuser second\n",
                    "user\nsocketgroup\n", "user a b c\n", "  \tuser\tspaced  \n",
                    "# user commented\n", "user x#comment\n", "user #only\n", "socketgroup g\r\n",
                    "user last-without-newline", "tag [SPAM]\nuser after-other-keys\n",
                    "metricsfile/glued value\n", "useruser x\n", long_line.c_str(),
                    long_tail.c_str(), cut_key.c_str()));

TEST(monitor_keys, missing_file_gives_the_defaults) {
  monitor_keys keys = read_monitor_keys("/nonexistent/orvane.conf");
  EXPECT_EQ(keys.user, "teslo");
  EXPECT_FALSE(keys.socketgroup);
  EXPECT_FALSE(keys.metricsfile);
}

TEST(monitor_keys, directory_gives_the_defaults_as_the_loader_does) {
  copyrules_test::rule_dir dir;
  std::string path = dir.write("orvane.conf", "user someone\n");
  spam_config_load full = load_spam_config(dir.path().c_str());
  monitor_keys keys = read_monitor_keys(dir.path().c_str());
  EXPECT_EQ(keys.user, or_none(full.settings->user));
  EXPECT_FALSE(keys.socketgroup);
}

}  // namespace
