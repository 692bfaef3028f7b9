// A connection in the middle of a message, played through the registered
// callback table with the recording fake libmilter, and spam settings that
// start at their defaults and are restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include "common/text.hpp"
#include "daemon/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fake_milter/log_capture.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/test_settings.hpp"

class message_stage : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = spam_config;
    spam_config = {};
    set_spam_config_defaults(spam_config);
    compile_builtin_patterns();
    compile_disposition_pattern(spam_config);
    ASSERT_EQ(smtp.connect("client.example", "192.0.2.7"), SMFIS_CONTINUE);
    context = smtp.context<connection_context>();
    ASSERT_NE(context, nullptr);
    start_message();
  }

  void TearDown() override {
    smtp.close();
    spam_config.whitelistto = nullptr;  // tests point it at their own entries
    free_spam_config(spam_config);
    spam_config = saved_;
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
  spam_config_record saved_{};
};
