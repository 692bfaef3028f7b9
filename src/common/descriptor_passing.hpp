// Packets with descriptors attached (SCM_RIGHTS) over a local socket: how
// the monitor hands a spawner over, a spawner hands a worker's channel and
// pidfd over, and the archive lister gets its memory file.
//
// Both calls are restarted after EINTR. At most two descriptors travel with
// one packet.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>

inline constexpr std::size_t max_attached_descriptors = 2;

// Sends `size` bytes as one packet with `attached` (none when empty);
// `flags` are added to MSG_NOSIGNAL. True when the whole packet went.
bool send_with_descriptors(int channel, const void* data, std::size_t size,
                           std::span<const int> attached, int flags = 0);

// Receives one packet into `data` (at most `size` bytes), with
// MSG_CMSG_CLOEXEC and `flags`. `attached` gets exactly as many descriptors
// as it holds, or -1 in each entry when another number came (what did come
// is closed). Gives the byte count as recvmsg does (-1 on error) and sets
// `message_flags` (MSG_TRUNC, MSG_CTRUNC).
ssize_t receive_with_descriptors(int channel, void* data, std::size_t size, std::span<int> attached,
                                 int& message_flags, int flags = 0);
