// Waiting, with a deadline, for a worker's channel to have something to read.
#pragma once

#include <chrono>

// True once `fd` is readable (or in error: the read that follows reports
// it); false when `deadline` passed first. Restarted after EINTR.
bool readable_by(int fd, std::chrono::steady_clock::time_point deadline);
