// Helpers shared by the fuzz targets: a private work directory per process,
// writing an input to a file there, silencing the log sink, and a command
// runner that records commands instead of running them.
//
// Every target is single-threaded; none of this is meant for threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// A directory made with mkdtemp under $TMPDIR (the current directory when
// TMPDIR is not set), private to this process and removed at exit.
const std::string& work_dir();

// The path of `name` inside work_dir().
std::string work_path(const char* name);

// Writes `data` to `path`, replacing what was there. Aborts on failure: a
// fuzz run that cannot write its input would test nothing.
void write_file(const std::string& path, std::string_view data);

// The whole content of `path`; empty when it cannot be read.
std::string read_file(const std::string& path);

// Sends every log line to nowhere (the formatting still runs).
void silence_logs();

}  // namespace fuzz
