// Archives made with libarchive's writer, for the tests that list them.
#pragma once

#include <string>
#include <utility>
#include <vector>

using archive_members = std::vector<std::pair<std::string, std::string>>;  // name, content

enum class archive_kind { zip, encrypted_zip, seven_zip, tar_gz, tar_bz2, tar_xz, tar_zstd, iso };

std::string make_archive(const archive_members& members, archive_kind kind = archive_kind::zip);

// A zip of `count` empty members named m0.txt, m1.txt, ...
std::string make_wide_zip(std::size_t count);
