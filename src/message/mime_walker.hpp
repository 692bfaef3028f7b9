// Follows a message's MIME structure through its body chunks and reads
// each part's header, so that attachments are found by their MIME names.
//
// The message's own header fields come first (message_header), then
// start_body reads them; body chunks follow (feed), cut anywhere; finish
// ends the message. Each part's header block (that of a multipart's part, of
// a message/rfc822 part's message, and the message's own) is unfolded and
// read with GMime (message/part_header.hpp); a part whose names include one
// with a listed extension is reported once, unless the raw line pattern
// already matched a line of that same header block (raw_match). Nested
// multiparts and message/rfc822 parts are followed; a multipart nested
// deeper than max_multipart_depth is taken as a plain part.
//
// With archive collection on, a part that names an archive (by extension
// or content type) and is not harmful by its own names has its content
// decoded (base64, quoted-printable or as it stands) and held, at most
// archive_size_limit bytes, until the part ends; it is then handed over
// whole, or reported as too large. At most max_archives_per_message are
// handed over; later ones are reported as one too many.
//
// Memory is bounded per message: the head of the current line, the header
// fields of the part being read (header_bytes_limit), the open boundaries
// and at most one archive being collected. When nothing that follows can be
// a part (a message without multiparts, or past the outermost closing
// boundary) the walker is done and the rest of the body is not looked at.
//
// Pure: no logging, no libmilter; one message on one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/part_header.hpp"

class part_decoder;

inline constexpr std::size_t archive_size_limit = std::size_t{10} * 1024 * 1024;  // decoded bytes
inline constexpr std::size_t header_bytes_limit = 65536;  // per header block and per line
inline constexpr std::size_t max_multipart_depth = 64;
inline constexpr std::size_t max_boundary_length = 998;  // a line's length in RFC 5322
inline constexpr std::size_t max_archives_per_message = 8;

class mime_walker {
 public:
  // What the walker finds; called from within the walker's own calls.
  class observer {
   public:
    virtual ~observer() = default;
    // A part (or the message) with a harmful name; `name`: the first one.
    virtual void harmful_part(const std::string& name) = 0;
    // A complete archive part, decoded (at most archive_size_limit bytes).
    virtual void archive_part(const std::string& name, const std::string& content) = 0;
    // An archive part that is not handed over: past archive_size_limit, or
    // past max_archives_per_message. Nothing of it was kept.
    enum class unlisted { too_large, too_many };
    virtual void archive_not_collected(const std::string& name, unlisted why) = 0;
  };

  // `extensions`: the normalized harmful list; `collect_archives`: whether
  // archive parts are decoded and handed over.
  mime_walker(std::string extensions, bool collect_archives);
  ~mime_walker();
  mime_walker(const mime_walker&) = delete;
  mime_walker& operator=(const mime_walker&) = delete;

  // One header field of the message itself (only the MIME fields are kept).
  void message_header(const char* name, const char* value);
  // Reads the message's header; false when the walker is already done.
  bool start_body(observer& found);
  // The next body bytes.
  void feed(const unsigned char* data, std::size_t length, observer& found);
  // The raw line pattern matched the line fed last: if it belongs to a
  // header block being read, that part is already reported.
  void raw_match();
  // The end of the message: an unfinished header block or archive counts.
  void finish(observer& found);
  bool done() const { return state_ == state::done; }

 private:
  enum class state { headers, body, archive, done };
  enum class field { none, type, disposition, encoding };
  struct level {
    std::string boundary;
    bool digest;
  };

  void start_header_block(bool digest_default);
  void add_field(std::string_view name, std::string_view value);
  void append_field(std::string_view text);
  void header_line(std::string_view line, observer& found);
  void end_header_block(observer& found);
  void take_segment(const char* data, std::size_t length);
  void complete_line(std::string_view line, bool cut, observer& found);
  bool boundary_line(std::string_view line, observer& found);
  void start_archive(const part_header& header);
  void collect(const char* data, std::size_t length);
  void end_archive(observer& found);
  std::size_t head_limit() const;

  std::string extensions_;
  bool collect_archives_;
  state state_ = state::headers;
  std::vector<level> levels_;  // open multiparts, outermost first

  // The header block being read.
  part_header_fields fields_;
  field current_ = field::none;
  std::size_t field_bytes_ = 0;
  bool digest_default_ = false;
  bool raw_matched_ = false;

  // The line being assembled across chunks.
  std::string line_;        // its head (all of it in a header block, up to the limit)
  bool line_cut_ = false;   // it went on past head_limit
  bool streaming_ = false;  // archive: its bytes went straight to the decoder
  bool held_cr_ = false;    // streaming: a carriage return not yet known to end the line

  // The archive being collected.
  std::string archive_name_;
  std::string archive_;
  std::string pending_break_;  // the last line's end, unless a boundary follows
  bool archive_over_ = false;
  std::size_t archives_ = 0;  // archive parts met so far
  std::unique_ptr<part_decoder> decoder_;
};

// Whether a part with this header names an archive (extension or type).
bool names_archive(const part_header& header);
