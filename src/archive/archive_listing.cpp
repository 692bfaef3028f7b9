// Member names of an archive in memory, with libarchive (see
// archive_listing.hpp).
#include "archive/archive_listing.hpp"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <string_view>
#include <vector>

#include "spamconfig/harmful_extensions.hpp"

namespace {

constexpr std::string_view archive_extensions[] = {"zip", "7z",   "rar", "tar", "gz",  "tgz",
                                                   "bz2", "tbz2", "xz",  "txz", "iso", "cab"};

// The bytes a nested archive may take, all depths together.
constexpr std::size_t nested_bytes_limit = std::size_t{10} * 1024 * 1024;

struct archive_closer {
  void operator()(archive* reader) const { (void)archive_read_free(reader); }
};
using archive_handle = std::unique_ptr<archive, archive_closer>;

archive_handle open_reader(const unsigned char* data, std::size_t size) {
  archive_handle reader(archive_read_new());
  if (!reader) return reader;
  archive* a = reader.get();
  // Formats and filters that libarchive reads itself: none of them runs an
  // outside program.
  (void)archive_read_support_format_zip(a);
  (void)archive_read_support_format_7zip(a);
  (void)archive_read_support_format_rar(a);
  (void)archive_read_support_format_rar5(a);
  (void)archive_read_support_format_tar(a);
  (void)archive_read_support_format_iso9660(a);
  (void)archive_read_support_format_cab(a);
  (void)archive_read_support_format_raw(a);
  (void)archive_read_support_filter_gzip(a);
  (void)archive_read_support_filter_bzip2(a);
  (void)archive_read_support_filter_xz(a);
  (void)archive_read_support_filter_lzma(a);
  (void)archive_read_support_filter_zstd(a);
  if (archive_read_open_memory(a, data, size) != ARCHIVE_OK) reader.reset();
  return reader;
}

bool names_nested_archive(std::string_view name) {
  return archive_extension(file_name_extension(name));
}

std::string entry_name(archive_entry* entry) {
  const char* name = archive_entry_pathname_utf8(entry);
  if (name == nullptr) name = archive_entry_pathname(entry);
  return name != nullptr ? name : "";
}

class lister {
 public:
  explicit lister(const char* extensions) : extensions_(extensions) {}

  archive_listing run(const unsigned char* data, std::size_t size) {
    listing_.status = archive_listing::listed;
    (void)list(data, size, 1, "");
    return listing_;
  }

 private:
  // False when the listing stopped (member bound, or the outer archive is
  // unreadable). A nested archive that does not read is only a member that
  // is not an archive after all.
  bool list(const unsigned char* data, std::size_t size, int depth, const std::string& prefix) {
    archive_handle reader = open_reader(data, size);
    if (!reader) return fail(depth, "cannot be opened");
    archive_entry* entry = nullptr;
    for (;;) {
      int result = archive_read_next_header(reader.get(), &entry);
      if (result == ARCHIVE_EOF) return true;
      if (result != ARCHIVE_OK && result != ARCHIVE_WARN) {
        const char* why = archive_error_string(reader.get());
        return fail(depth, why != nullptr ? why : "damaged");
      }
      // Any bytes read as "raw"; only a compressed file is one.
      if (archive_format(reader.get()) == ARCHIVE_FORMAT_RAW &&
          archive_filter_count(reader.get()) <= 1) {
        return fail(depth, "not an archive");
      }
      if (listing_.members == max_archive_members) {
        listing_.status = archive_listing::too_many_members;
        return false;
      }
      ++listing_.members;
      std::string name = entry_name(entry);
      if (listing_.harmful.empty() && harmful_file_name(name, extensions_)) {
        listing_.harmful = (prefix + name).substr(0, max_member_name);
      }
      if (depth < max_archive_depth && names_nested_archive(name) &&
          !list_nested(reader.get(), entry, depth, prefix + name + "/")) {
        return false;
      }
    }
  }

  bool list_nested(archive* reader, archive_entry* entry, int depth, const std::string& prefix) {
    if (archive_entry_is_encrypted(entry) != 0) return true;
    std::vector<unsigned char> content;
    unsigned char buffer[65536];
    for (;;) {
      la_ssize_t got = archive_read_data(reader, buffer, sizeof buffer);
      if (got < 0) return true;  // not readable: left as a name only
      if (got == 0) break;
      if (nested_bytes_ + content.size() + static_cast<std::size_t>(got) > nested_bytes_limit) {
        return true;
      }
      content.insert(content.end(), buffer, buffer + got);
    }
    nested_bytes_ += content.size();
    return list(content.data(), content.size(), depth + 1, prefix);
  }

  bool fail(int depth, const char* why) {
    if (depth > 1) return true;  // a nested member that does not read
    listing_.status = archive_listing::unreadable;
    listing_.problem = why;
    return false;
  }

  const char* extensions_;
  archive_listing listing_;
  std::size_t nested_bytes_ = 0;
};

}  // namespace

bool archive_extension(std::string_view extension) {
  for (std::string_view archive : archive_extensions) {
    if (extension == archive) return true;
  }
  return false;
}

archive_listing list_archive(const unsigned char* data, std::size_t size, const char* extensions) {
  return lister(extensions).run(data, size);
}
