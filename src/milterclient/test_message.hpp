// The message the load driver sends, and the SMTP-level facts around it
// (client, HELO, envelope), as Sendmail would hand them to a filter.
//
// Built once by the driver's main thread and then only read by every
// connection thread.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct test_message {
  std::string client_name;  // the client's host name (connect)
  std::string client_addr;  // IPv4 address text (connect)
  unsigned short client_port = 0;
  std::string receiver_host;  // macro "j"
  std::string helo;
  std::string sender;                   // MAIL FROM address, in angle brackets
  std::vector<std::string> recipients;  // RCPT TO addresses, in angle brackets
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;                // CRLF line ends
  std::size_t chunk_size = 65535;  // body bytes per body packet
};

// What the realistic message may be varied in (see load_driver --help).
struct message_settings {
  std::string client_addr = "192.0.2.7";
  std::string client_name = "mail.example.net";
  std::string helo = "mail.example.net";
  std::string sender = "<alice@pass.test>";
  std::vector<std::string> recipients = {"<bob@example.com>", "<carol@example.org>"};
  std::size_t body_bytes = 2048;
  std::size_t chunk_size = 65535;
  std::string content_type = "text/plain; charset=us-ascii";
  std::string body_text;  // when not empty, the body as given (instead of body_bytes of text)
};

// The realistic message: 8 headers (Received, From, To, Cc, Subject, Date,
// Message-ID, Content-Type), a plain text body of `body_bytes` bytes in
// 72-character CRLF lines (or the settings' own body and content type), and
// the settings' envelope.
test_message realistic_message(const message_settings& settings);
