// Looking at a channel (a worker's or a spawner's) for something to read:
// with a deadline, or at once.
#pragma once

#include <chrono>

// True once `fd` is readable (or in error: the read that follows reports
// it); false when `deadline` passed first. Restarted after EINTR.
bool readable_by(int fd, std::chrono::steady_clock::time_point deadline);

// True when `fd` has something to read or its other end is gone: for an
// waiting worker's channel, a worker that died or speaks unasked.
bool has_news(int fd);

// True when the other end of `fd` is gone (a spawner that ended).
bool hung_up(int fd);
