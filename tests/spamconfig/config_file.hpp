// Loads spam_config from a file written into a private temporary directory
// and leaves a zero-filled record behind, as the daemon starts with.
#pragma once

#include <string>

class loaded_config {
 public:
  // Writes `text` as the configuration file and loads it.
  explicit loaded_config(const std::string& text);
  ~loaded_config();
  loaded_config(const loaded_config&) = delete;
  loaded_config& operator=(const loaded_config&) = delete;

  bool loaded() const { return loaded_; }

 private:
  std::string directory_;
  bool loaded_ = false;
};
