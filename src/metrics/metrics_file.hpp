// Replacing the metrics file in one step, as node_exporter's textfile
// collector expects: a reader sees the old file or the new one, never a part.
//
// The text goes into a temporary file ".<name>.XXXXXX" in the same directory
// (the collector reads only "*.prom", so it never picks up the temporary),
// which is written, flushed to disk (fsync), given mode 0644 and renamed over
// the file. On any failure the temporary is removed, the old file stays as it
// was, and the result says why.
#pragma once

#include <string>

// True when `path` now holds `text`. Otherwise false, with `reason` set to
// the failed step and its errno text ("rename: Is a directory").
[[nodiscard]] bool replace_metrics_file(const std::string& path, const std::string& text,
                                        std::string& reason);
