// Where the daemon's own programs are: the filter process, the spawner and
// the helpers it starts, each started by exec of its own file.
//
// Installed, the root daemon is /usr/sbin/teslo and its programs are in
// paths::program_directory. Run from the build directory, every program is
// beside the daemon. So a program is looked for beside the running
// executable first (its directory is as trusted as the executable itself),
// then in paths::program_directory. find_program_directory resolves the
// running executable once; call it at start, before any sandbox.
#pragma once

#include <string>

// The running executable's directory when `probe_name` is an executable
// file there, else paths::program_directory.
std::string find_program_directory(const char* probe_name);

// `directory` + "/" + `name`.
std::string program_path(const std::string& directory, const char* name);
