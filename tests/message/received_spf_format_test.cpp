// The Received-SPF value is built by hand for speed; it must equal, byte for
// byte, what the printf formats below give, cuts at the buffer's end included.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/text.hpp"
#include "connection/connection_context.hpp"
#include "message/eom_actions.hpp"

namespace {

// The reference: the header's wording as printf formats, per SPF result.
void reference(char* out, std::size_t size, const connection_context& c) {
  const char* tail = ")\n\treceiver=%s; client-ip=%s;\n\tenvelope-from=%s; helo=%s;";
  int used = 0;
  char head[1024];
  switch (c.spf_result) {
    case 2:
      used = std::snprintf(head, sizeof head,
                           "Pass (%s: domain of %s\n\tdesignates %s as permitted sender",
                           c.receiver_host, c.sender_addr, c.client_addr);
      break;
    case 3:
      used = std::snprintf(head, sizeof head,
                           "Fail (%s: domain of %s\n\tdoes not designate %s as permitted sender",
                           c.receiver_host, c.sender_addr, c.client_addr);
      break;
    case 4:
      used = std::snprintf(head, sizeof head,
                           "SoftFail (%s: transitioning domain of %s\n\tdoes not designate %s as "
                           "permitted sender",
                           c.receiver_host, c.sender_addr, c.client_addr);
      break;
    case 1:
      used = std::snprintf(head, sizeof head,
                           "Neutral (%s: %s is neither permitted\n\tnor denied by domain of %s",
                           c.receiver_host, c.client_addr, c.sender_addr);
      break;
    case 6:
      used = std::snprintf(head, sizeof head,
                           "TempError (%s: domain of %s\n\tcould not be checked: transient error "
                           "in processing",
                           c.receiver_host, c.sender_addr);
      break;
    case 7:
      used = std::snprintf(head, sizeof head,
                           "PermError (%s: domain of %s\n\tpublishes an SPF policy that cannot be "
                           "interpreted",
                           c.receiver_host, c.sender_addr);
      break;
    default:
      used = std::snprintf(head, sizeof head,
                           "None (%s: domain of %s\n\tdoes not designate permitted sender hosts",
                           c.receiver_host, c.sender_addr);
      break;
  }
  ASSERT_GT(used, 0);
  ASSERT_LT(static_cast<std::size_t>(used), sizeof head);
  // The head holds client texts; escape any "%" before using it as a format.
  std::string escaped;
  for (char ch : std::string(head)) {
    escaped += ch;
    if (ch == '%') escaped += '%';
  }
  std::string format = escaped + tail;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(out, size, format.c_str(), c.receiver_host, c.client_addr, c.mail_from,
                c.helo_name);
#pragma GCC diagnostic pop
}

connection_context* filled(std::size_t length, char fill) {
  static connection_context context;
  context = connection_context{};
  std::string text(length, fill);
  text[0] = '%';  // a client text may hold printf directives; they stay text
  copy_bounded(context.receiver_host, text.c_str(), sizeof context.receiver_host - 1);
  copy_bounded(context.sender_addr, text.c_str(), sizeof context.sender_addr - 1);
  copy_bounded(context.client_addr, text.c_str(), sizeof context.client_addr - 1);
  copy_bounded(context.mail_from, text.c_str(), sizeof context.mail_from - 1);
  copy_bounded(context.helo_name, text.c_str(), sizeof context.helo_name - 1);
  return &context;
}

}  // namespace

TEST(received_spf_format, equals_the_printf_wording_for_every_result_length_and_buffer) {
  const int results[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, -1};
  const std::size_t lengths[] = {1, 9, 60, 127, 255};
  const std::size_t sizes[] = {1, 2, 17, 100, 256, 511, 512, 2000};
  for (int result : results) {
    for (std::size_t length : lengths) {
      connection_context* context = filled(length, 'x');
      context->spf_result = result;
      for (std::size_t size : sizes) {
        SCOPED_TRACE(testing::Message()
                     << "result " << result << " length " << length << " size " << size);
        std::string want(size + 8, '#');
        std::string got(size + 8, '#');
        reference(want.data(), size, *context);
        format_received_spf(got.data(), size, *context);
        EXPECT_EQ(got, want);  // also nothing written past the buffer
      }
    }
  }
}

TEST(received_spf_format, empty_fields_and_zero_sized_buffer) {
  connection_context context{};
  context.spf_result = 2;
  char value[512];
  format_received_spf(value, sizeof value, context);
  EXPECT_STREQ(value,
               "Pass (: domain of \n\tdesignates  as permitted sender)\n\treceiver=; client-ip=;\n"
               "\tenvelope-from=; helo=;");
  char untouched = '#';
  format_received_spf(&untouched, 0, context);
  EXPECT_EQ(untouched, '#');
}
