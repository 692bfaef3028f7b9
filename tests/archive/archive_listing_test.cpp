// Listing archive member names in memory: harmful members found at any
// depth, encrypted archives listed by their names, damaged archives and
// the member bound.
#include "archive/archive_listing.hpp"

#include <gtest/gtest.h>

#include <string>

#include "archive/archive_maker.hpp"
#include "spamconfig/harmful_extensions.hpp"

namespace {

archive_listing list(const std::string& bytes) {
  return list_archive(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      default_harmful_extensions);
}

}  // namespace

TEST(list_archive, harmful_member_at_any_depth_and_in_any_format) {
  const std::string inner = make_archive({{"readme.txt", "hi"}, {"docs/Invoice.EXE", "MZ"}});
  struct row {
    const char* what;
    std::string bytes;
    archive_listing::status_t status;
    uint32_t members;
    const char* harmful;
  };
  const row rows[] = {
      {"zip with an exe", make_archive({{"a.txt", "x"}, {"invoice.exe", "MZ"}}),
       archive_listing::listed, 2, "invoice.exe"},
      {"harmless zip", make_archive({{"a.txt", "x"}, {"b.pdf", "%PDF"}}), archive_listing::listed,
       2, ""},
      {"nested zip", make_archive({{"a.txt", "x"}, {"inner.zip", inner}}), archive_listing::listed,
       4, "inner.zip/docs/Invoice.EXE"},
      {"third level is not opened",
       make_archive({{"l2.zip", make_archive({{"l3.zip", make_archive({{"x.exe", "MZ"}})}})}}),
       archive_listing::listed, 2, ""},
      {"encrypted zip: names listed",
       make_archive({{"a.txt", "x"}, {"run.js", "x"}}, archive_kind::encrypted_zip),
       archive_listing::listed, 2, "run.js"},
      {"7z", make_archive({{"setup.msi", "x"}}, archive_kind::seven_zip), archive_listing::listed,
       1, "setup.msi"},
      {"tar.gz", make_archive({{"x/y.scr", "x"}}, archive_kind::tar_gz), archive_listing::listed, 1,
       "x/y.scr"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    archive_listing got = list(r.bytes);
    EXPECT_EQ(got.status, r.status) << got.problem;
    EXPECT_EQ(got.members, r.members);
    EXPECT_EQ(got.harmful, r.harmful);
  }
}

TEST(list_archive, damaged_or_foreign_bytes_are_unreadable) {
  std::string zip = make_archive({{"a.txt", std::string(4000, 'x')}, {"b.txt", "y"}});
  for (const std::string& bytes : {zip.substr(0, zip.size() / 2),
                                   std::string("just some text, not an archive"), std::string()}) {
    archive_listing got = list(bytes);
    EXPECT_EQ(got.status, archive_listing::unreadable);
    EXPECT_FALSE(got.problem.empty());
    EXPECT_EQ(got.harmful, "");
  }
}

TEST(list_archive, stops_after_ten_thousand_members) {
  archive_listing got = list(make_wide_zip(max_archive_members + 1));
  EXPECT_EQ(got.status, archive_listing::too_many_members);
  EXPECT_EQ(got.members, max_archive_members);
  EXPECT_EQ(list(make_wide_zip(max_archive_members)).status, archive_listing::listed);
}
