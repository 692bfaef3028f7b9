// The changes the copying asked for at the end of a message played through
// the registered callbacks: the recorded changes without the scanner header
// that the spam actions add to every message that is not exempt.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> copy_changes(const std::vector<std::string>& changes) {
  std::vector<std::string> kept;
  for (const std::string& change : changes) {
    if (!change.starts_with("addheader X-Mail-Scan-By:")) kept.push_back(change);
  }
  return kept;
}
