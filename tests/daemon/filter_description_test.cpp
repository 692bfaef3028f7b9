#include "daemon/filter_description.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "connection/callbacks.hpp"

TEST(filter_description, registers_name_version_and_rights) {
  EXPECT_STREQ(filter_description.xxfi_name, "KORVAL");
  EXPECT_EQ(filter_description.xxfi_version, 2);
  EXPECT_EQ(filter_description.xxfi_flags, 0x3dul);
  EXPECT_EQ(filter_description.xxfi_flags & SMFIF_CHGBODY, 0ul);
}

TEST(filter_description, fills_all_ten_version_two_slots) {
  EXPECT_EQ(filter_description.xxfi_connect, teslo_connect);
  EXPECT_EQ(filter_description.xxfi_helo, teslo_helo);
  EXPECT_EQ(filter_description.xxfi_envfrom, teslo_envfrom);
  EXPECT_EQ(filter_description.xxfi_envrcpt, teslo_envrcpt);
  EXPECT_EQ(filter_description.xxfi_header, teslo_header);
  EXPECT_EQ(filter_description.xxfi_eoh, teslo_eoh);
  EXPECT_EQ(filter_description.xxfi_body, teslo_body);
  EXPECT_EQ(filter_description.xxfi_eom, teslo_eom);
  EXPECT_EQ(filter_description.xxfi_abort, teslo_abort);
  EXPECT_EQ(filter_description.xxfi_close, teslo_close);
  EXPECT_EQ(filter_description.xxfi_unknown, nullptr);
  EXPECT_EQ(filter_description.xxfi_data, nullptr);
  EXPECT_EQ(filter_description.xxfi_negotiate, nullptr);
}
