// Test helper: a private temporary directory for rule files, under $TMPDIR
// or else the working directory (the build tree under ctest).
#pragma once

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include <filesystem>

#include <libxml/xmlerror.h>

namespace copyrules_test {

class rule_dir {
 public:
  rule_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : ".") + "/teslo-rules-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = std::filesystem::absolute(pattern).string();
  }
  ~rule_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  rule_dir(const rule_dir&) = delete;
  rule_dir& operator=(const rule_dir&) = delete;

  const std::string& path() const { return path_; }

  // Writes `content` to `name` in the directory through a temporary file and
  // a rename, so a concurrent reader sees the old or the new file whole.
  std::string write(const std::string& name, const std::string& content) const {
    std::string target = path_ + "/" + name;
    std::string temporary = target + ".new";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << content;
    }
    std::filesystem::rename(temporary, target);
    return target;
  }

 private:
  std::string path_;
};

// A document with an internal DTD that admits the usual elements anywhere.
inline std::string permissive_document(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n"
         "<!DOCTYPE rules [\n"
         "  <!ELEMENT rules ANY>\n"
         "  <!ELEMENT rule ANY>\n"
         "  <!ATTLIST rule title CDATA #IMPLIED>\n"
         "  <!ELEMENT domain ANY>\n"
         "  <!ELEMENT mailaddr ANY>\n"
         "  <!ELEMENT direction ANY>\n"
         "  <!ELEMENT Domain ANY>\n"
         "  <!ELEMENT other ANY>\n"
         "  <!ENTITY corp \"example.com\">\n"
         "]>\n"
         "<rules>" +
         body + "</rules>\n";
}

// For a test that feeds the parser broken files on purpose: while it lives,
// libxml2's messages (which go to standard error by default, where they
// look like a failure in a passing run) are kept here instead.
class expected_parser_errors {
 public:
  expected_parser_errors() { xmlSetGenericErrorFunc(this, &expected_parser_errors::keep); }
  ~expected_parser_errors() { xmlSetGenericErrorFunc(nullptr, nullptr); }
  expected_parser_errors(const expected_parser_errors&) = delete;
  expected_parser_errors& operator=(const expected_parser_errors&) = delete;

  std::size_t count() const { return count_; }

 private:
  static void keep(void* self, const char*, ...) {
    ++static_cast<expected_parser_errors*>(self)->count_;
  }
  std::size_t count_ = 0;
};

}  // namespace copyrules_test
