// Listing the member names of an archive held in memory, with libarchive.
//
// Zip, 7z, rar (4 and 5), tar, ISO 9660 and cab archives are read, each
// possibly compressed with gzip, bzip2, xz, lzma or zstd; a file that is only
// compressed shows as one member named "data". Only names are read: no
// member is extracted, except that a member which names an archive is
// itself listed, to a depth of max_archive_depth (the outer archive being
// depth 1), when its content can be read within the size bound. An encrypted
// archive whose names are readable is listed by them; an encrypted member is
// never opened. Listing stops at max_archive_members (all depths counted).
//
// This reads input anyone can send: only the archive lister process calls
// it (archive_lister/archive_lister.hpp), or a test or fuzz target. Pure otherwise;
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::size_t max_archive_members = 10000;
inline constexpr int max_archive_depth = 2;
inline constexpr std::size_t max_member_name = 255;  // bytes of a reported name

struct archive_listing {
  enum status_t : uint8_t {
    listed,            // every member name was read
    unreadable,        // not an archive libarchive reads, or damaged (`problem`)
    too_many_members,  // stopped after max_archive_members
    failed,            // the lister gave no answer (`problem`: why)
  };
  status_t status = failed;
  uint32_t members = 0;  // names read, all depths
  std::string harmful;   // first member with a listed extension, as
                         // "inner.zip/name" when nested; empty: none
  std::string problem;   // unreadable, failed: what went wrong
};

// Whether a file-name extension (lower case, as file_name_extension gives
// it) names an archive that is listed: zip, 7z, rar, tar, gz, tgz, bz2,
// tbz2, xz, txz, iso, cab.
bool archive_extension(std::string_view extension);

// Lists `size` bytes at `data`; `extensions` is the normalized harmful list
// (spamconfig/harmful_extensions.hpp). A harmful member found before a
// failure or the member bound is still reported.
archive_listing list_archive(const unsigned char* data, std::size_t size, const char* extensions);
