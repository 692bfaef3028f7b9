// Names tested against the harmful-extension list.
#include "spamconfig/harmful_extensions.hpp"

#include <gtest/gtest.h>

TEST(harmful_file_name, last_extension_of_last_component_any_case_trailing_dots_ignored) {
  struct row {
    const char* name;
    bool harmful;
  };
  const row rows[] = {
      {"invoice.exe", true},
      {"INVOICE.EXE", true},
      {"invoice.exe.", true},
      {"invoice.exe . .", true},
      {"a.pdf.js", true},
      {"C:\\tmp\\x.scr", true},
      {"dir.exe/readme", false},
      {"invoice.exe.pdf", false},
      {"exe", false},
      {".exe", true},
      {"invoice.exex", false},
      {"invoice.ex", false},
      {"", false},
      {"invoice.vhdx", true},
      {"rechnung\xC3\xBC.exe", true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(harmful_file_name(r.name, default_harmful_extensions), r.harmful) << r.name;
  }
  EXPECT_FALSE(harmful_file_name("a.exe", nullptr));
}
