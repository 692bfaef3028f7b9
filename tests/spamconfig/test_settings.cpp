#include "spamconfig/test_settings.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "spamconfig/builtin_patterns.hpp"

spam_config_record spam_config;

namespace {

// Before any test: the patterns compiled, as start-up has them.
class compiled_patterns : public ::testing::Environment {
 public:
  void SetUp() override { compile_builtin_patterns(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new compiled_patterns);

void publish_fresh(const settings_edit& edit) {
  std::shared_ptr<spam_config_record> record = make_spam_config_record();
  if (!record) throw std::bad_alloc();
  set_spam_config_defaults(*record);
  compile_disposition_pattern(*record);
  if (edit) edit(*record);
  publish_spam_settings(std::move(record));
}

}  // namespace

fresh_settings::fresh_settings(const settings_edit& edit) { publish_fresh(edit); }

fresh_settings::~fresh_settings() { publish_default_settings(); }

void publish_default_settings() { publish_fresh({}); }

pattern_entry* owned_pattern_entry(const char* text, pattern_entry* next) {
  auto* entry = static_cast<pattern_entry*>(std::calloc(1, sizeof(pattern_entry)));
  if (entry == nullptr) throw std::bad_alloc();
  entry->text = strdup(text);
  entry->next = next;
  return entry;
}

bool load_test_settings(const char* path, const config_line_observer& observer) {
  spam_config_load loaded = load_spam_config(path, observer);
  free_spam_config(spam_config);
  spam_config = *loaded.settings;           // takes over the texts, lists and pattern
  *loaded.settings = spam_config_record{};  // so that its release frees nothing
  return loaded.file_read;
}
