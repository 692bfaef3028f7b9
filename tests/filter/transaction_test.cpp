// A whole transaction through the registered table lets mail pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/config_file.hpp"

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
  EXPECT_EQ(smtp.eom(), SMFIS_CONTINUE);
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

// A message's verdicts end with it, also when it is aborted: the next
// message on the connection gets exactly what a clean message on a fresh
// connection gets.
TEST(transaction, aborted_flagged_message_leaves_nothing_for_the_next) {
  loaded_config config("tocheck header\ndisposition header\n");
  auto clean_message = [](fake_milter::session& smtp) {
    smtp.envfrom({"<carol@example.org>"});
    smtp.envrcpt({"<bob@example.net>"});
    smtp.header("Subject", "hello");
    smtp.header("To", "bob@example.net");
    smtp.eoh();
    smtp.body("hello\r\n");
    smtp.eom();
    return smtp.take_changes();
  };
  fake_milter::session fresh(filter_description);
  fresh.connect("mx.example.org", "192.0.2.7");
  fresh.helo("mx.example.org");
  const std::vector<std::string> want = clean_message(fresh);

  fake_milter::session smtp(filter_description);
  smtp.connect("mx.example.org", "192.0.2.7");
  smtp.helo("mx.example.org");
  smtp.envfrom({"<alice@example.org>"});
  smtp.envrcpt({"<bob@example.net>"});
  smtp.eoh();  // no To or CC
  smtp.body("Content-Disposition: attachment; filename=\"run.exe\"\r\n");
  ASSERT_NE(smtp.context<connection_context>()->to_header, 0);
  ASSERT_NE(smtp.context<connection_context>()->harmful_header, 0);
  smtp.abort();
  smtp.take_changes();
  EXPECT_EQ(clean_message(smtp), want);
}
