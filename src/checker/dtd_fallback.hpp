// Lets teslo-check validate a rule file that is not yet where the daemon
// reads it: the shipped example names its DTD by absolute path
// (/etc/mail/teslo/teslo.dtd), which does not exist in a checkout or a
// DESTDIR tree. While a dtd_fallback lives, a DTD named by an absolute path
// that does not exist is read from the file of the same name beside the rule
// file instead, when there is one, and the substitution is recorded so the
// report can say so. The daemon never uses this: it reads the DTD the file
// names. libxml2's entity loader is process-wide: one instance at a time,
// main thread only.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <libxml/parser.h>

class dtd_fallback {
 public:
  struct substitution {
    std::string named;  // the DTD path the rule file names
    std::string used;   // the file read in its place
  };

  explicit dtd_fallback(const std::string& rule_file);
  ~dtd_fallback();
  dtd_fallback(const dtd_fallback&) = delete;
  dtd_fallback& operator=(const dtd_fallback&) = delete;

  const std::vector<substitution>& substitutions() const { return substitutions_; }

 private:
  static xmlParserInputPtr load(const char* url, const char* id, xmlParserCtxtPtr context);

  std::filesystem::path directory_;
  xmlExternalEntityLoader previous_;
  std::vector<substitution> substitutions_;
};
