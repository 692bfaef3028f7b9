#include "archive/archive_maker.hpp"

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>

namespace {

la_ssize_t append(archive* /*a*/, void* user, const void* buffer, size_t length) {
  static_cast<std::string*>(user)->append(static_cast<const char*>(buffer), length);
  return static_cast<la_ssize_t>(length);
}

void check(int result, archive* a) {
  if (result < ARCHIVE_WARN) throw std::runtime_error(archive_error_string(a));
}

}  // namespace

std::string make_archive(const archive_members& members, archive_kind kind) {
  std::string out;
  archive* a = archive_write_new();
  switch (kind) {
    case archive_kind::zip: check(archive_write_set_format_zip(a), a); break;
    case archive_kind::encrypted_zip:
      check(archive_write_set_format_zip(a), a);
      check(archive_write_set_options(a, "zip:encryption=zipcrypt"), a);
      check(archive_write_set_passphrase(a, "secret"), a);
      break;
    case archive_kind::seven_zip: check(archive_write_set_format_7zip(a), a); break;
    case archive_kind::tar_gz:
      check(archive_write_set_format_pax_restricted(a), a);
      check(archive_write_add_filter_gzip(a), a);
      break;
    case archive_kind::tar_bz2:
      check(archive_write_set_format_pax_restricted(a), a);
      check(archive_write_add_filter_bzip2(a), a);
      break;
    case archive_kind::tar_xz:
      check(archive_write_set_format_pax_restricted(a), a);
      check(archive_write_add_filter_xz(a), a);
      break;
    case archive_kind::tar_zstd:
      check(archive_write_set_format_pax_restricted(a), a);
      check(archive_write_add_filter_zstd(a), a);
      break;
    case archive_kind::iso: check(archive_write_set_format_iso9660(a), a); break;
  }
  check(archive_write_set_bytes_in_last_block(a, 1), a);
  check(archive_write_open(a, &out, nullptr, append, nullptr), a);
  for (const auto& [name, content] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    check(archive_write_header(a, entry), a);
    if (!content.empty()) (void)archive_write_data(a, content.data(), content.size());
    archive_entry_free(entry);
  }
  check(archive_write_close(a), a);
  archive_write_free(a);
  return out;
}

std::string make_wide_zip(std::size_t count) {
  archive_members members;
  for (std::size_t n = 0; n < count; ++n)
    members.emplace_back("m" + std::to_string(n) + ".txt", "");
  return make_archive(members);
}
