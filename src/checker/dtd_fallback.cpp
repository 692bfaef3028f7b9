#include "checker/dtd_fallback.hpp"

#include <filesystem>
#include <unistd.h>

namespace {

dtd_fallback* active = nullptr;

bool readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::filesystem::path directory_of(const std::string& file) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return (error ? std::filesystem::path(file) : absolute).parent_path();
}

}  // namespace

dtd_fallback::dtd_fallback(const std::string& rule_file)
    : directory_(directory_of(rule_file)), previous_(xmlGetExternalEntityLoader()) {
  active = this;
  xmlSetExternalEntityLoader(&dtd_fallback::load);
}

dtd_fallback::~dtd_fallback() {
  xmlSetExternalEntityLoader(previous_);
  active = nullptr;
}

xmlParserInputPtr dtd_fallback::load(const char* url, const char* id, xmlParserCtxtPtr context) {
  dtd_fallback* self = active;
  // A missing file cannot be the same file as a readable one beside the
  // rule file, so a substitution never hides a DTD that is there.
  if (url != nullptr && url[0] == '/' && !readable(url)) {
    const std::string beside = (self->directory_ / std::filesystem::path(url).filename()).string();
    if (readable(beside)) {
      self->substitutions_.push_back({url, beside});
      return self->previous_(beside.c_str(), id, context);
    }
  }
  return self->previous_(url, id, context);
}
