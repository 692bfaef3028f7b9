// The mail-filter wire protocol as the MTA side speaks it: packet framing
// (4-byte big-endian length, one command byte, data), the command and reply
// letters, and a blocking reader with a deadline.
//
// Used by mta_session (one per driver connection, on that connection's own
// thread); nothing here is shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace milter_wire {

// Commands the MTA sends.
inline constexpr char cmd_abort = 'A';
inline constexpr char cmd_body = 'B';
inline constexpr char cmd_connect = 'C';
inline constexpr char cmd_macro = 'D';
inline constexpr char cmd_end_of_body = 'E';
inline constexpr char cmd_helo = 'H';
inline constexpr char cmd_header = 'L';
inline constexpr char cmd_mail = 'M';
inline constexpr char cmd_end_of_headers = 'N';
inline constexpr char cmd_optneg = 'O';
inline constexpr char cmd_quit = 'Q';
inline constexpr char cmd_rcpt = 'R';
inline constexpr char cmd_data = 'T';

// Replies the filter sends.
inline constexpr char reply_add_rcpt = '+';
inline constexpr char reply_del_rcpt = '-';
inline constexpr char reply_add_rcpt_par = '2';
inline constexpr char reply_accept = 'a';
inline constexpr char reply_repl_body = 'b';
inline constexpr char reply_continue = 'c';
inline constexpr char reply_discard = 'd';
inline constexpr char reply_chg_from = 'e';
inline constexpr char reply_conn_fail = 'f';
inline constexpr char reply_add_header = 'h';
inline constexpr char reply_ins_header = 'i';
inline constexpr char reply_set_symlist = 'l';
inline constexpr char reply_chg_header = 'm';
inline constexpr char reply_progress = 'p';
inline constexpr char reply_quarantine = 'q';
inline constexpr char reply_reject = 'r';
inline constexpr char reply_skip = 's';
inline constexpr char reply_tempfail = 't';
inline constexpr char reply_replycode = 'y';
inline constexpr char reply_optneg = 'O';

// Protocol flags in the negotiation (what the filter does not want).
inline constexpr std::uint32_t no_connect = 0x1;
inline constexpr std::uint32_t no_helo = 0x2;
inline constexpr std::uint32_t no_mail = 0x4;
inline constexpr std::uint32_t no_rcpt = 0x8;
inline constexpr std::uint32_t no_body = 0x10;
inline constexpr std::uint32_t no_headers = 0x20;
inline constexpr std::uint32_t no_eoh = 0x40;
inline constexpr std::uint32_t nr_header = 0x80;
inline constexpr std::uint32_t no_unknown = 0x100;
inline constexpr std::uint32_t no_data = 0x200;
inline constexpr std::uint32_t skip_ok = 0x400;
inline constexpr std::uint32_t nr_connect = 0x1000;
inline constexpr std::uint32_t nr_helo = 0x2000;
inline constexpr std::uint32_t nr_mail = 0x4000;
inline constexpr std::uint32_t nr_rcpt = 0x8000;
inline constexpr std::uint32_t nr_data = 0x10000;
inline constexpr std::uint32_t nr_unknown = 0x20000;
inline constexpr std::uint32_t nr_eoh = 0x40000;
inline constexpr std::uint32_t nr_body = 0x80000;
inline constexpr std::uint32_t header_leading_space = 0x100000;
// Every protocol step and action this MTA side offers (protocol version 6).
inline constexpr std::uint32_t version = 6;
inline constexpr std::uint32_t all_actions = 0x1ff;
inline constexpr std::uint32_t all_protocol = 0x1fffff;
// Largest data part of one packet (a body chunk at most this long).
inline constexpr std::size_t max_data = 65535;

// One packet: the command or reply letter and its data.
struct packet {
  char command = 0;
  std::string data;
};

// Appends the framed packet to `out`.
void append_packet(std::string& out, char command, std::string_view data);
// Appends a 32-bit number in network byte order.
void append_u32(std::string& out, std::uint32_t value);
// Reads the 32-bit network-order number at `offset` (0 when out of range).
std::uint32_t read_u32(std::string_view data, std::size_t offset);
// The NUL-separated texts of a data part ("a\0b\0" -> {"a", "b"} joined by
// '|'), for messages and tests.
std::string printable(std::string_view data);

// Result of one read.
enum class read_status { ok, closed, timeout, error, oversize };

// Reads whole packets from a connected socket. Buffers what it reads, so
// several small replies arriving together cost one system call.
class packet_reader {
 public:
  explicit packet_reader(int fd) : fd_(fd) {}
  // Returns the next complete packet; gives up when no byte arrives for
  // `timeout_ms`.
  read_status next(packet& out, int timeout_ms);

 private:
  bool take_buffered(packet& out);
  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;
};

// Writes all of `bytes` (no SIGPIPE when the filter has gone); false on any
// error (EINTR is retried).
bool write_all(int fd, std::string_view bytes);

}  // namespace milter_wire
