// Compiles the built-in patterns once for the whole unit-test run, as
// start-up does before any callback can run, so that a test of any stage
// (run alone or with others) finds them compiled.
#include <gtest/gtest.h>

#include "spamconfig/builtin_patterns.hpp"

namespace {

class compiled_patterns : public ::testing::Environment {
 public:
  void SetUp() override {
    compile_builtin_patterns();
    compile_disposition_pattern();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new compiled_patterns);

}  // namespace
