// Loads the settings from a file written into a private temporary directory
// and puts them in force, as a reload would; `spam_config` shows what was
// loaded while the object lives. When it ends, fresh defaults are in force
// and `spam_config` is zero-filled.
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
