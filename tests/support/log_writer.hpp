// The log sink of the test programs (unit tests, fuzz targets, benchmarks):
// in place of syslog, each line is formatted and handed to the writer the
// test installed, or dropped when none is. Any thread may log; the writer
// must be safe to call concurrently.
#pragma once

// Where formatted lines go: priority and the finished text.
using log_writer = void (*)(int priority, const char* text);

// Replaces the writer; nullptr drops the lines. Returns the previous writer.
log_writer set_log_writer(log_writer writer);
