// The channel between the serving process and an archive lister: a
// SOCK_SEQPACKET socket pair carrying one question and one answer, each a
// packet of fixed size. The question carries the archive as a sealed
// memory file (memfd, SCM_RIGHTS); nothing else crosses. A packet of
// another size, or a question without its file, ends the conversation.
#pragma once

#include <cstddef>
#include <string>

#include "archive/archive_listing.hpp"

// Each returns false when the channel is closed or broken or the packet is
// not whole; calls are restarted after EINTR.
bool send_archive_question(int channel, int content, std::size_t size, const char* extensions);
// `content`: the received memory file (the caller closes it).
bool receive_archive_question(int channel, int& content, std::size_t& size,
                              std::string& extensions);
bool send_archive_answer(int channel, const archive_listing& listing);
bool receive_archive_answer(int channel, archive_listing& listing);
