// Builds the realistic benchmark message (see test_message.hpp).
#include "milterclient/test_message.hpp"

namespace {

std::string bare(const std::string& address) {
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
    return address.substr(1, address.size() - 2);
  }
  return address;
}

std::string plain_body(std::size_t bytes) {
  static const char words[] =
      "Dear colleagues, please find the minutes of our last meeting below; "
      "the next review is planned for the first week of the coming month. ";
  std::string body;
  std::size_t word_at = 0;
  while (body.size() < bytes) {
    std::string line;
    while (line.size() < 70) {
      line.push_back(words[word_at]);
      word_at = (word_at + 1) % (sizeof words - 1);
    }
    line += "\r\n";
    body += line;
  }
  body.resize(bytes);
  if (bytes >= 2) body.replace(bytes - 2, 2, "\r\n");
  return body;
}

}  // namespace

test_message realistic_message(const message_settings& settings) {
  test_message message;
  message.client_name = settings.client_name;
  message.client_addr = settings.client_addr;
  message.client_port = 41234;
  message.receiver_host = "mail.sandbox.test";
  message.helo = settings.helo;
  message.sender = settings.sender;
  message.recipients = settings.recipients;
  std::string to = message.recipients.empty() ? "" : bare(message.recipients.front());
  std::string cc = message.recipients.size() > 1 ? bare(message.recipients[1]) : to;
  message.headers = {
      {"Received", "from " + settings.helo + " (" + settings.client_name + " [" +
                       settings.client_addr +
                       "])\n\tby mail.sandbox.test (8.17.1/8.17.1) with ESMTP"},
      {"From", "Alice Example <" + bare(settings.sender) + ">"},
      {"To", to},
      {"Cc", cc},
      {"Subject", "Minutes of the planning meeting"},
      {"Date", "Tue, 4 Jun 2024 10:15:00 +0200"},
      {"Message-ID", "<20240604101500.12345@pass.test>"},
      {"Content-Type", settings.content_type},
  };
  message.body = settings.body_text.empty() ? plain_body(settings.body_bytes) : settings.body_text;
  message.chunk_size = settings.chunk_size == 0 ? 65535 : settings.chunk_size;
  return message;
}
