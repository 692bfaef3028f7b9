#include "spamconfig/test_settings.hpp"

#include <gtest/gtest.h>

#include "spamconfig/builtin_patterns.hpp"

spam_config_record spam_config;

spam_settings test_settings() { return spam_settings(spam_settings(), &spam_config); }

void publish_test_settings() { publish_spam_settings(test_settings()); }

namespace {

// Before any test: the patterns compiled, as start-up has them, and the
// editable record in force.
class editable_settings : public ::testing::Environment {
 public:
  void SetUp() override {
    compile_builtin_patterns();
    publish_test_settings();
  }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new editable_settings);

}  // namespace

bool load_test_settings(const char* path, const config_line_observer& observer) {
  spam_config_load loaded = load_spam_config(path, observer);
  free_spam_config(spam_config);
  spam_config = *loaded.settings;           // takes over the texts, lists and pattern
  *loaded.settings = spam_config_record{};  // so that its release frees nothing
  return loaded.file_read;
}
