#include "filter/filter_description.hpp"

#include <gtest/gtest.h>

TEST(filter_description, registers_name_version_and_rights) {
  EXPECT_STREQ(filter_description.xxfi_name, "KORVAL");
  EXPECT_EQ(filter_description.xxfi_version, 2);
  EXPECT_EQ(filter_description.xxfi_flags, 0x3dul);
  EXPECT_EQ(filter_description.xxfi_flags & SMFIF_CHGBODY, 0ul);
}
