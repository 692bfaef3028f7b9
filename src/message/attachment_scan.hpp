// The MIME side of the harmful-attachment check, beside the raw line scan.
//
// While `disposition` is not off, the header stage hands the message's MIME
// header fields to a walker (message/mime_walker.hpp) kept in the message
// record; the end of the headers reads them and drops the walker when the
// body holds no part to follow (a message without multiparts stays on the
// raw line scan alone). Each body chunk is then fed to the walker in step
// with the raw scan (chunk_walk), so that a part header block whose line the
// raw pattern matched is not reported a second time. The end of the message
// finishes the walk.
//
// Each harmful part logs "harmful attachment: %s, %s -> %s" (LOG_NOTICE,
// client name, MAIL FROM, latest RCPT TO), as a matching raw line does, then
// "harmful attachment name: \"%s\"" (LOG_INFO), and raises the flag that the
// `disposition` action names. Under "quarantine" the first hit of a chunk,
// raw or MIME, silences the rest of that chunk.
//
// While an archive lister is in place (archive/archive_asker.hpp), an
// archive part is listed when it ends, the worker thread waiting for the
// answer. A member with a listed extension makes the part harmful: the
// same notice line, then "harmful attachment in archive: \"%s\" holds
// \"%s\"" (LOG_INFO). An archive that is not listed gives one LOG_INFO line
// "archive not listed: \"%s\": %s" (larger than 10 MB, more than 10000
// members, more than 8 archives in the message, or why it could not be
// read) and no verdict. Each listing may take the thread 10 seconds, so a
// message costs at most 80 seconds of listing. Names from the
// message are logged with control bytes and quotation marks as '?', at most
// 200 bytes.
//
// All on the connection's worker thread, on its own message record.
#pragma once

#include <cstddef>

#include "connection/connection_context.hpp"

// Logs today's harmful-attachment line and raises the verdict; the action.
check_action report_harmful_attachment(connection_context& context);

// A header field of the message (teslo_header).
void note_message_header(connection_context& context, const char* name, const char* value);

// The end of the headers (teslo_eoh).
void start_attachment_scan(connection_context& context);

// One body chunk, fed to the walker as far as the raw scan has gone.
class chunk_walk {
 public:
  chunk_walk(connection_context& context, const unsigned char* chunk, std::size_t length);
  // Feeds the walker up to `end` (a chunk offset past a line's end); the
  // raw pattern matched that line.
  void raw_match(std::size_t end);
  // Feeds the rest of the chunk.
  void finish();
  // A raw hit under "quarantine": the rest of the chunk reports nothing.
  void silence() { quiet_ = true; }

 private:
  void feed_to(std::size_t end);

  connection_context& context_;
  const unsigned char* chunk_;
  std::size_t length_;
  std::size_t fed_ = 0;
  bool quiet_ = false;
};

// The end of the message (teslo_eom), before the spam actions.
void finish_attachment_scan(connection_context& context);
