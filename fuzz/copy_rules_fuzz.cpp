// Fuzzes the copy-rule loader and walker with arbitrary rule files, then
// runs the rule matching of the copying over the table put in force.
//
// The loader validates against the DTD the document declares; the rule file
// is written beside the rule DTD ("teslo.dtd") that inputs may name, so the
// validating paths are reached without any fixed file outside the work
// directory. The parser never uses the network.
#include <cstdint>
#include <exception>
#include <string>

#include "copyrules/copy_rule_table.hpp"
#include "copyrules/load_copy_rules.hpp"
#include "fuzz_support.hpp"
#include "message/copying.hpp"

namespace {

std::string rule_path;

// The element structure of the installed DTD, plus one entity.
constexpr const char* rule_dtd =
    "<!ELEMENT teslo (rule)*>\n"
    "<!ELEMENT rule (domain | mailaddr | direction)*>\n"
    "<!ATTLIST rule title CDATA #IMPLIED>\n"
    "<!ELEMENT domain (#PCDATA)>\n"
    "<!ELEMENT mailaddr (#PCDATA)>\n"
    "<!ELEMENT direction (#PCDATA)>\n"
    "<!ENTITY archive \"archive@copies.test\">\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  fuzz::write_file(fuzz::work_path("teslo.dtd"), rule_dtd);
  rule_path = fuzz::work_path("teslo.xml");
  // A relative system identifier ("teslo.dtd") resolves against the rule
  // file's directory, whatever the current directory is.
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::write_file(rule_path, std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    load_copy_rules(rule_path.c_str());
  } catch (const std::exception&) {
    // A file the parser refuses leaves an empty table; checked below.
  }
  copy_rule_snapshot rules = current_copy_rules();
  for (const copy_rule& rule : *rules) {
    // Every stored pattern carries the ">" that anchors it at the address end.
    if (rule.domain.empty() || rule.domain.back() != '>') __builtin_trap();
    for (const char* address : {"<user@example.test>", "<>", "<ALL>", ""}) {
      (void)copy_rule_matches(rule, address);
    }
    (void)copy_rule_matches(rule, normalise_recipient(rule.mailaddr, "host.test"));
    (void)copy_rule_matches(rule, normalise_sender(rule.domain, "host.test"));
  }
  reset_copy_rules();
  return 0;
}
