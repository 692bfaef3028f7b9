// A connection in the middle of a message, played through the registered
// callback table with the recording fake libmilter, under a fresh record of
// default spam settings that a test may replace (use_settings).
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "common/text.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/test_settings.hpp"

class message_stage : public ::testing::Test {
 protected:
  void SetUp() override {
    use_settings({});
    ASSERT_EQ(smtp.connect("client.example", "192.0.2.7"), SMFIS_CONTINUE);
    context = smtp.context<connection_context>();
    ASSERT_NE(context, nullptr);
    start_message();
  }

  void TearDown() override {
    smtp.close();
    settings_.reset();
  }

  // Puts a fresh record in force (the defaults, then `edit`) and gives it to
  // the open connection as its snapshot, as if it had connected under it.
  void use_settings(const settings_edit& edit) {
    settings_.reset();
    settings_.emplace(edit);
    if (context != nullptr) *context->settings = current_spam_settings();
  }

  // What the envelope stage leaves for a message from alice@example.org.
  void start_message() {
    delete context->message;
    context->message = new message_record;
    copy_bounded(context->helo_name, "mx.example.org");
    copy_bounded(context->mail_from, "<alice@example.org>");
    copy_bounded(context->sender_addr, "alice@example.org");
    copy_bounded(context->receiver_host, "mx.example.net");
    copy_bounded(context->rcpt_to, "<bob@example.net>");
    context->spf_result = 5;
  }

  fake_milter::log_capture logs;
  fake_milter::session smtp{filter_description};
  connection_context* context = nullptr;

 private:
  std::optional<fresh_settings> settings_;
};
