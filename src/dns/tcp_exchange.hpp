// A DNS query over TCP with a deadline: what a truncated UDP answer is
// asked again with. glibc's own TCP path (in res_nsend) connects and reads
// with blocking calls and no time limit, so a server that accepts and never
// answers, or a firewall that drops TCP, would hold the caller past any
// deadline; this one gives up at the deadline.
//
// Tries the state's name servers in order, one connection each (as glibc
// does over TCP): the query with its two-byte length, then the two-byte
// length of the answer and the answer. The first answer that answers the
// query (answers_query) is returned; empty when no server gave one before
// the deadline. Blocks its thread; keeps no state.
#pragma once

#include <resolv.h>

#include <chrono>
#include <span>
#include <vector>

std::vector<unsigned char> tcp_exchange(res_state state, std::span<const unsigned char> query,
                                        std::chrono::steady_clock::time_point deadline);
