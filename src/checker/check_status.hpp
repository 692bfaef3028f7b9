// Results of the configuration checker, worst last, so that the status of
// several checks is the largest of them. The values are the exit statuses
// of teslo-check.
#pragma once

#include <algorithm>

enum class check_status : int {
  clean = 0,       // teslo takes every line as written
  ignored = 1,     // something would be ignored, misread or can never fire
  unreadable = 2,  // a file cannot be read or parsed (or the command line is wrong)
};

inline check_status worse(check_status left, check_status right) { return std::max(left, right); }
