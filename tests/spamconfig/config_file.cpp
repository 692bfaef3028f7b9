#include "spamconfig/config_file.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>
#include <unistd.h>

#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/test_settings.hpp"

loaded_config::loaded_config(const std::string& text) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : ".") + "/teslo-config-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  directory_ = buffer.data();
  std::string path = directory_ + "/orvane.conf";
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot write " << path;
    return;
  }
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);

  compile_builtin_patterns();
  free_spam_config(spam_config);
  std::memset(&spam_config, 0, sizeof spam_config);
  spam_config_load loaded = load_spam_config(path.c_str());
  unlink(path.c_str());
  loaded_ = loaded.file_read;
  if (!loaded.settings) {
    ADD_FAILURE() << "no memory for the settings";
    return;
  }
  spam_config = *loaded.settings;  // a view for reading; the published record owns it all
  publish_spam_settings(std::move(loaded.settings));
}

loaded_config::~loaded_config() {
  std::memset(&spam_config, 0, sizeof spam_config);  // the view only: the record frees itself
  publish_default_settings();
  if (!directory_.empty()) rmdir(directory_.c_str());
}
