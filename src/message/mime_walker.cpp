// The MIME structure of a message body, followed chunk by chunk (see
// mime_walker.hpp).
#include "message/mime_walker.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "archive/archive_listing.hpp"
#include "common/text.hpp"
#include "connection/connection_context.hpp"
#include "message/part_decoder.hpp"
#include "spamconfig/harmful_extensions.hpp"

namespace {

// What starting a kept header field costs against header_bytes_limit.
constexpr std::size_t field_charge = 256;

// A body line longer than this cannot be a boundary line.
constexpr std::size_t boundary_line_limit = max_boundary_length + 4 + 64;

constexpr const char* archive_types[] = {
    "application/zip",
    "application/x-zip",
    "application/x-zip-compressed",
    "application/x-7z-compressed",
    "application/x-rar",
    "application/x-rar-compressed",
    "application/vnd.rar",
    "application/x-tar",
    "application/x-gtar",
    "application/gzip",
    "application/x-gzip",
    "application/x-compressed-tar",
    "application/x-iso9660-image",
    "application/vnd.ms-cab-compressed",
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool same_name(std::string_view name, std::string_view wanted) {
  return name.size() == wanted.size() &&
         std::equal(name.begin(), name.end(), wanted.begin(),
                    [](char a, char b) { return lower_ascii_byte(a) == lower_ascii_byte(b); });
}

std::string_view without_cr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// "--" boundary ["--"] and blanks: 1 a part follows, 2 the multipart ends.
int delimiter_kind(std::string_view line, const std::string& boundary) {
  if (line.size() < boundary.size() + 2 || line[0] != '-' || line[1] != '-') return 0;
  if (line.compare(2, boundary.size(), boundary) != 0) return 0;
  std::string_view rest = line.substr(boundary.size() + 2);
  int kind = 1;
  if (rest.size() >= 2 && rest[0] == '-' && rest[1] == '-') {
    kind = 2;
    rest.remove_prefix(2);
  }
  return std::all_of(rest.begin(), rest.end(), is_blank) ? kind : 0;
}

}  // namespace

bool names_archive(const part_header& header) {
  for (const std::string& name : header.names) {
    if (archive_extension(file_name_extension(name))) return true;
  }
  for (const char* type : archive_types) {
    if (header.mime_type == type) return true;
  }
  return false;
}

void mime_walker_deleter::operator()(mime_walker* walker) const { delete walker; }

mime_walker::mime_walker(std::string extensions, bool collect_archives)
    : extensions_(std::move(extensions)), collect_archives_(collect_archives) {}

mime_walker::~mime_walker() = default;

void mime_walker::start_header_block(bool digest_default) {
  state_ = state::headers;
  fields_ = {};
  current_ = field::none;
  field_bytes_ = 0;
  digest_default_ = digest_default;
  raw_matched_ = false;
}

void mime_walker::append_field(std::string_view text) {
  std::string* value = nullptr;
  if (current_ == field::type) value = &fields_.content_types.back();
  if (current_ == field::disposition) value = &fields_.dispositions.back();
  if (current_ == field::encoding) value = &fields_.transfer_encoding;
  if (value == nullptr) return;
  std::size_t room = header_bytes_limit - field_bytes_;
  text = text.substr(0, room);
  // Unfolding: the line breaks go, the blanks that began each line stay.
  for (char c : text) {
    if (c != '\r' && c != '\n') value->push_back(c);
  }
  field_bytes_ += text.size();
}

void mime_walker::add_field(std::string_view name, std::string_view value) {
  while (!name.empty() && is_blank(name.back())) name.remove_suffix(1);
  current_ = field::none;
  if (field_bytes_ + field_charge > header_bytes_limit) return;
  // Each kept field counts against the block's bound, empty or not, so that
  // a block of many empty fields stays bounded too.
  if (same_name(name, "content-type")) {
    fields_.content_types.emplace_back();
    current_ = field::type;
  } else if (same_name(name, "content-disposition")) {
    fields_.dispositions.emplace_back();
    current_ = field::disposition;
  } else if (same_name(name, "content-transfer-encoding") && fields_.transfer_encoding.empty()) {
    current_ = field::encoding;
  }
  if (current_ != field::none) field_bytes_ += field_charge;
  append_field(value);
}

void mime_walker::message_header(const char* name, const char* value) {
  if (state_ != state::headers || name == nullptr) return;
  add_field(name, value != nullptr ? value : "");
}

void mime_walker::header_line(std::string_view line, observer& found) {
  if (line.empty()) {
    end_header_block(found);
  } else if (is_blank(line.front())) {
    append_field(line);
  } else if (std::size_t colon = line.find(':'); colon != std::string_view::npos) {
    add_field(line.substr(0, colon), line.substr(colon + 1));
  } else {
    current_ = field::none;  // not a field: nothing continues it
  }
}

void mime_walker::end_header_block(observer& found) {
  part_header header = read_part_header(fields_, digest_default_ ? "message/rfc822" : "text/plain");
  fields_ = {};
  current_ = field::none;
  auto harmful = std::find_if(
      header.names.begin(), header.names.end(),
      [&](const std::string& name) { return harmful_file_name(name, extensions_.c_str()); });
  if (harmful != header.names.end() && !raw_matched_) found.harmful_part(*harmful);
  raw_matched_ = false;
  if (header.kind == part_kind::message) {
    start_header_block(false);
  } else if (header.kind == part_kind::multipart && !header.boundary.empty() &&
             header.boundary.size() <= max_boundary_length &&
             levels_.size() < max_multipart_depth) {
    levels_.push_back({header.boundary, header.digest});
    state_ = state::body;
  } else if (collect_archives_ && harmful == header.names.end() && names_archive(header)) {
    start_archive(header);
  } else {
    state_ = levels_.empty() ? state::done : state::body;
  }
}

bool mime_walker::start_body(observer& found) {
  if (state_ == state::headers) end_header_block(found);
  return state_ != state::done;
}

std::size_t mime_walker::head_limit() const {
  return state_ == state::headers ? header_bytes_limit : boundary_line_limit;
}

void mime_walker::raw_match() {
  if (state_ == state::headers) raw_matched_ = true;
}

void mime_walker::start_archive(const part_header& header) {
  state_ = state::archive;
  archive_name_ = header.names.empty() ? header.mime_type : header.names.front();
  archive_.clear();
  pending_break_.clear();
  archive_over_ = false;
  decoder_ = std::make_unique<part_decoder>(header.encoding);
}

void mime_walker::collect(const char* data, std::size_t length) {
  if (archive_over_ || length == 0 || archives_ >= max_archives_per_message) return;
  decoder_->decode(data, length, archive_);
  if (archive_.size() > archive_size_limit) {
    archive_over_ = true;
    std::string().swap(archive_);
  }
}

void mime_walker::end_archive(observer& found) {
  if (!archive_over_) {
    decoder_->flush(archive_);
    archive_over_ = archive_.size() > archive_size_limit;
  }
  if (++archives_ > max_archives_per_message) {
    found.archive_not_collected(archive_name_, observer::unlisted::too_many);
  } else if (archive_over_) {
    found.archive_not_collected(archive_name_, observer::unlisted::too_large);
  } else {
    found.archive_part(archive_name_, archive_);
  }
  std::string().swap(archive_);
  decoder_.reset();
  pending_break_.clear();
}

// A boundary of an open multipart (the innermost that fits): the parts
// inside it end; true when the line was one.
bool mime_walker::boundary_line(std::string_view line, observer& found) {
  if (line.size() > boundary_line_limit || line.size() < 2 || line[0] != '-' || line[1] != '-') {
    return false;
  }
  for (std::size_t index = levels_.size(); index-- > 0;) {
    int kind = delimiter_kind(line, levels_[index].boundary);
    if (kind == 0) continue;
    if (state_ == state::archive) end_archive(found);
    levels_.resize(index + 1);
    if (kind == 2) {
      levels_.pop_back();
      state_ = levels_.empty() ? state::done : state::body;
    } else {
      start_header_block(levels_[index].digest);
    }
    return true;
  }
  return false;
}

void mime_walker::complete_line(std::string_view line, bool cut, observer& found) {
  bool had_cr = !line.empty() && line.back() == '\r';
  line = without_cr(line);
  switch (state_) {
    case state::headers: header_line(line.substr(0, header_bytes_limit), found); break;
    case state::body:
      if (!cut) (void)boundary_line(line, found);
      break;
    case state::archive:
      if (!cut && boundary_line(line, found)) break;
      collect(pending_break_.data(), pending_break_.size());
      collect(line.data(), line.size());
      pending_break_ = had_cr ? "\r\n" : "\n";
      break;
    case state::done: break;
  }
}

// Part of a line whose end is not in this stretch of bytes.
void mime_walker::take_segment(const char* data, std::size_t length) {
  if (!streaming_) {
    std::size_t room = head_limit() - std::min(head_limit(), line_.size());
    line_.append(data, std::min(room, length));
    if (length <= room) return;
    line_cut_ = true;
    if (state_ != state::archive) return;
    // Too long for a boundary: the line is content, and so is the rest.
    collect(pending_break_.data(), pending_break_.size());
    pending_break_.clear();
    held_cr_ = line_.back() == '\r';
    collect(line_.data(), line_.size() - (held_cr_ ? 1 : 0));
    line_.clear();
    streaming_ = true;
    data += room;
    length -= room;
  }
  // A carriage return at the end of a stretch is content only if more of
  // the line follows; otherwise it belongs to the line's end.
  if (length == 0) return;
  if (held_cr_) collect("\r", 1);
  held_cr_ = data[length - 1] == '\r';
  collect(data, length - (held_cr_ ? 1 : 0));
}

void mime_walker::feed(const unsigned char* bytes, std::size_t length, observer& found) {
  const char* data = reinterpret_cast<const char*>(bytes);
  std::size_t at = 0;
  while (at < length && state_ != state::done) {
    const void* feed_at = std::memchr(data + at, '\n', length - at);
    if (feed_at == nullptr) {
      take_segment(data + at, length - at);
      return;
    }
    std::size_t end = static_cast<std::size_t>(static_cast<const char*>(feed_at) - data);
    if (line_.empty() && !line_cut_ && !streaming_) {
      // The whole line is in this chunk: read it where it is.
      complete_line(std::string_view(data + at, end - at), false, found);
    } else {
      take_segment(data + at, end - at);
      if (streaming_) {
        pending_break_ = held_cr_ ? "\r\n" : "\n";
        held_cr_ = false;
        streaming_ = false;
      } else {
        complete_line(line_, line_cut_, found);
      }
      line_.clear();
      line_cut_ = false;
    }
    at = end + 1;
  }
}

void mime_walker::finish(observer& found) {
  if (streaming_) {
    if (held_cr_) collect("\r", 1);
  } else if (!line_.empty() || line_cut_) {
    complete_line(line_, line_cut_, found);
  }
  line_.clear();
  line_cut_ = streaming_ = held_cr_ = false;
  if (state_ == state::headers) end_header_block(found);
  if (state_ == state::archive) end_archive(found);
  state_ = state::done;
}
