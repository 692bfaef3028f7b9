// Reading a MIME part's header fields with GMime (see part_header.hpp).
#include "message/part_header.hpp"

#include <gmime/gmime.h>

#include <mutex>

#include "common/text.hpp"

namespace {

std::once_flag mime_library_once;

// Releases a GObject at the end of its scope.
template <typename T>
struct gobject_ref {
  T* object;
  explicit gobject_ref(T* created) : object(created) {}
  ~gobject_ref() {
    if (object != nullptr) g_object_unref(object);
  }
  gobject_ref(const gobject_ref&) = delete;
  gobject_ref& operator=(const gobject_ref&) = delete;
};

std::string lowered(const char* text) {
  std::string result = text != nullptr ? text : "";
  for (char& c : result) c = static_cast<char>(lower_ascii_byte(c));
  return result;
}

void add_name(std::vector<std::string>& names, const char* name) {
  if (name != nullptr && *name != '\0') names.emplace_back(name);
}

part_encoding encoding_of(const std::string& field) {
  switch (g_mime_content_encoding_from_string(field.c_str())) {
    case GMIME_CONTENT_ENCODING_BASE64: return part_encoding::base64;
    case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE: return part_encoding::quoted_printable;
    case GMIME_CONTENT_ENCODING_UUENCODE: return part_encoding::uuencode;
    default: return part_encoding::identity;
  }
}

// The kind, type and boundary from the part's first Content-Type.
void read_type(part_header& header, GMimeContentType* type) {
  std::string media = lowered(g_mime_content_type_get_media_type(type));
  std::string subtype = lowered(g_mime_content_type_get_media_subtype(type));
  header.mime_type = media + "/" + subtype;
  if (media == "multipart") {
    header.kind = part_kind::multipart;
    header.digest = subtype == "digest";
    const char* boundary = g_mime_content_type_get_parameter(type, "boundary");
    if (boundary != nullptr) header.boundary = boundary;
  } else if (media == "message" && (subtype == "rfc822" || subtype == "global")) {
    header.kind = part_kind::message;
  }
}

}  // namespace

void init_mime_library() {
  std::call_once(mime_library_once, [] { g_mime_init(); });
}

part_header read_part_header(const part_header_fields& fields, const char* default_type) {
  init_mime_library();
  part_header header;
  bool typed = false;
  for (const std::string& field : fields.content_types) {
    gobject_ref<GMimeContentType> type(g_mime_content_type_parse(nullptr, field.c_str()));
    if (type.object == nullptr) continue;
    if (!typed) read_type(header, type.object);
    typed = true;
    add_name(header.names, g_mime_content_type_get_parameter(type.object, "name"));
  }
  if (!typed) {
    gobject_ref<GMimeContentType> type(g_mime_content_type_parse(nullptr, default_type));
    if (type.object != nullptr) read_type(header, type.object);
  }
  for (const std::string& field : fields.dispositions) {
    gobject_ref<GMimeContentDisposition> disposition(
        g_mime_content_disposition_parse(nullptr, field.c_str()));
    if (disposition.object == nullptr) continue;
    add_name(header.names,
             g_mime_content_disposition_get_parameter(disposition.object, "filename"));
  }
  header.encoding = encoding_of(fields.transfer_encoding);
  return header;
}
