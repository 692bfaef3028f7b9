// The package's changelog names the version the programs carry: its top
// entry is the one dpkg-buildpackage stamps on the package.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

TEST(version, is_the_top_entry_of_the_changelog) {
  std::ifstream changelog(TESLO_CHANGELOG);
  std::string top;
  ASSERT_TRUE(std::getline(changelog, top)) << TESLO_CHANGELOG;
  EXPECT_EQ(top.rfind("teslo (" TESLO_VERSION ") ", 0), 0u) << top;
}
