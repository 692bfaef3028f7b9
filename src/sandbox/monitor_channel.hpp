// The channel between the root monitor and the filter process.
//
// Monitor and filter process share three things, each named in one header:
// this channel; the listener, the filter socket the monitor opens and every
// filter process serves on (monitor/filter_socket.hpp); and the reload
// wake-up pipe, which the monitor's reload signals write into and the
// filter process's reload thread reads (monitor/reload_signal.hpp). In the
// filter program they are descriptors 3, 4 and 5
// (sandbox/filter_program.hpp).
//
// The channel: a SOCK_SEQPACKET socket pair, made anew for every filter
// process, one request per packet, from the filter process to the monitor.
// The requests are fixed and carry no path and no command text; the first
// byte names the request:
//
//   'R'          ready: the filter process is set up and about to serve
//   'M' TEXT     metrics: the text of the metrics file, at most
//                max_request_size bytes with the 'M'; the monitor writes it
//                to the path it read at start
//   'S'          SPF spawner: a new spawner of SPF evaluation processes
//                (sandbox/process_spawner.hpp, spf_evaluator_role: the
//                program teslo-spawner, started by the monitor with fork
//                and exec), the previous one, if any, being ended
//   'A'          archive spawner: the same for the archive listers
//                (archive_lister_role)
//
// The spawner requests are the only ones answered: one packet of the
// request's letter back, with the filter's end of the new spawner's channel
// attached (SCM_RIGHTS), or without a descriptor when none could be
// started. Replies come in the order of the requests.
//
// What the monitor serves, and when, is channel_gate's
// (monitor/channel_gate.hpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr char ready_request = 'R';
inline constexpr char metrics_request = 'M';
inline constexpr char spf_spawner_request = 'S';
inline constexpr char archive_spawner_request = 'A';
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

// True for the letters of the spawner requests.
bool is_spawner_request(char kind);

// The monitor's reply to the spawner request `kind`; `attached` is -1 for
// none. Never blocks; false with errno.
bool send_spawner_reply(int fd, char kind, int attached);

// Reads one waiting reply (never blocks). True when a spawner reply was
// read; `kind` is then its request's letter and `attached` its descriptor
// (close-on-exec) or -1. False when nothing is waiting, the channel is
// closed or the packet is not a reply (whatever it carried is closed).
bool receive_spawner_reply(int fd, char& kind, int& attached);
