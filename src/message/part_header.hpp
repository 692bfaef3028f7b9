// What one MIME part's header says, read with GMime.
//
// The part's Content-Type, Content-Disposition and Content-Transfer-Encoding
// fields, unfolded and as written, are given to GMime's parameter parser,
// which handles quoted strings, comments, parameters in any order, RFC 2231
// (charset, language, percent-encoding, numbered continuations, in any case)
// and RFC 2047 encoded words inside parameter values. The result names the
// part's kind, its boundary when it is a multipart, its transfer encoding and
// every file name it gives (the disposition's "filename", the type's "name").
//
// Pure and thread-safe: each call builds and drops its own GMime objects;
// GMime itself is set up once per process (init_mime_library).
#pragma once

#include <string>
#include <vector>

// Sets GMime up; later calls do nothing. Called by the filter process before
// its system-call list is loaded (GMime reads its charset tables there) and
// by read_part_header itself.
void init_mime_library();

// The raw values of one part's fields (several of a kind when the part
// repeats one).
struct part_header_fields {
  std::vector<std::string> content_types;
  std::vector<std::string> dispositions;
  std::string transfer_encoding;  // the first one
};

enum class part_kind { leaf, multipart, message };

enum class part_encoding { identity, base64, quoted_printable, uuencode };

struct part_header {
  part_kind kind = part_kind::leaf;
  bool digest = false;    // multipart/digest: its parts default to message/rfc822
  std::string mime_type;  // "type/subtype" in lower case
  std::string boundary;   // multipart only; empty when it has none
  part_encoding encoding = part_encoding::identity;
  std::vector<std::string> names;  // decoded: the types' names, then the filenames
};

// Reads a part's fields. `default_type` is the type of a part without a
// Content-Type ("text/plain", or "message/rfc822" inside a digest). The
// first Content-Type decides the kind; every field's names are collected.
part_header read_part_header(const part_header_fields& fields, const char* default_type);
