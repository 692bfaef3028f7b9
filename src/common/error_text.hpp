// The text of an errno value for log lines and reports.
//
// Any thread may call it: unlike strerror it shares no buffer. The texts are
// the C locale's ("No such file or directory").
#pragma once

// The description of `error`, or "Unknown error" for a value without one.
const char* error_text(int error);
