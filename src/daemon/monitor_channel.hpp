// The channel between the root monitor and the filter process.
//
// A SOCK_SEQPACKET socket pair, one request per packet, from the filter
// process to the monitor. The requests are fixed and carry no path and no
// command text; the first byte names the request:
//
//   'R'          ready: the filter process is set up and about to serve
//   'M' TEXT     metrics: the text of the metrics file, at most
//                max_request_size bytes with the 'M'; the monitor writes it
//                to the path it read at start
//   'S'          spawner: a new SPF spawner (spf/evaluator_spawner.hpp),
//                the previous one, if any, being ended
//
// The spawner request is the only one answered: one packet 'S' back, with
// the filter's end of the new spawner's channel attached (SCM_RIGHTS), or
// without a descriptor when none could be started. Replies come in the
// order of the requests.
//
// What the monitor serves, and when, is channel_gate's (channel_gate.hpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char ready_request = 'R';
inline constexpr char metrics_request = 'M';
inline constexpr char spawner_request = 'S';
inline constexpr std::size_t max_request_size = 65536;

// Makes the pair (close-on-exec); false with errno.
bool open_monitor_channel(int ends[2]);

// Sends one request; false with errno (a closed channel gives EPIPE, never
// SIGPIPE).
bool send_request(int fd, char kind, std::string_view payload = {});

// One received packet: `data` holds it (at most max_request_size bytes),
// `truncated` when it was longer. Nothing when the channel has no packet
// waiting (EAGAIN) and `closed` when the other end is gone or it failed.
struct received_packet {
  std::string data;
  bool truncated = false;
  bool closed = false;
  bool none = false;
};
received_packet receive_request(int fd);

// The monitor's reply to a spawner request; `attached` is -1 for none.
// Never blocks; false with errno.
bool send_spawner_reply(int fd, int attached);

// Reads one waiting reply (never blocks). True when a spawner reply was
// read; `attached` is then its descriptor (close-on-exec) or -1. False when
// nothing is waiting, the channel is closed or the packet is not a reply
// (whatever it carried is closed).
bool receive_spawner_reply(int fd, int& attached);
