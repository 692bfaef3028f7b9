// A whole transaction through the registered table lets mail pass.
#include <gtest/gtest.h>

#include "daemon/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "connection/connection_context.hpp"

TEST(transaction, plain_message_passes_every_stage) {
  fake_milter::session smtp(filter_description);
  EXPECT_EQ(smtp.connect("mx.example.org", "192.0.2.7"), SMFIS_CONTINUE);
  ASSERT_NE(smtp.context<connection_context>(), nullptr);
  EXPECT_EQ(smtp.helo("mx.example.org"), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.envfrom({"<alice@example.org>"}), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.envrcpt({"<bob@example.net>"}), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.header("Subject", "hello"), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.header("To", "bob@example.net"), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.eoh(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.body("hello\r\n"), SMFIS_CONTINUE);
  EXPECT_NE(smtp.eom(), SMFIS_REJECT);
  EXPECT_EQ(smtp.close(), SMFIS_CONTINUE);
  EXPECT_EQ(smtp.priv(), nullptr);
}

TEST(transaction, close_without_connect_accepts) {
  fake_milter::session smtp(filter_description);
  EXPECT_EQ(smtp.close(), SMFIS_ACCEPT);
}

TEST(transaction, abort_drops_message_and_keeps_connection) {
  fake_milter::session smtp(filter_description);
  smtp.connect("mx.example.org", "192.0.2.7");
  smtp.envfrom({"<alice@example.org>"});
  EXPECT_EQ(smtp.abort(), SMFIS_ACCEPT);
  EXPECT_EQ(smtp.context<connection_context>()->message, nullptr);
  EXPECT_EQ(smtp.envfrom({"<carol@example.org>"}), SMFIS_CONTINUE);
  ASSERT_NE(smtp.context<connection_context>()->message, nullptr);
}
