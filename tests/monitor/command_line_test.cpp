// Which arguments ask for help or the version (the daemon then starts
// nothing) and which are left to the ignored getopt pass.
#include "monitor/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

command_request request_of(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "teslo");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return requested(static_cast<int>(arguments.size()), argv.data());
}

}  // namespace

TEST(command_line, only_help_and_version_stop_the_start) {
  struct request_case {
    std::vector<std::string> arguments;
    command_request want;
  };
  const request_case cases[] = {
      {{}, command_request::run},
      {{"-x", "-u", "somebody"}, command_request::run},
      {{"-h"}, command_request::help},
      {{"-x", "--help"}, command_request::help},
      {{"--version"}, command_request::version},
      {{"-u", "-h"}, command_request::run},         // -h is the value of -u
      {{"--", "--version"}, command_request::run},  // after the options
      {{"-q", "--helpx", "words"}, command_request::run},
  };
  for (const request_case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    EXPECT_EQ(request_of(c.arguments), c.want);
  }
}
