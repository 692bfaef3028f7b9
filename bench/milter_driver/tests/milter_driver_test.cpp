// Tests of the load driver: the packet codec, the MTA-side conversation
// against a scripted filter (negotiated steps, macros before commands,
// modification replies before the final one, early refusals, a filter that
// goes away), the figures, and whole runs against the real-libmilter
// minimal filter.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "load_run.hpp"
#include "load_stats.hpp"
#include "milterclient/milter_wire.hpp"
#include "milterclient/mta_session.hpp"
#include "scripted_filter.hpp"
#include "milterclient/test_message.hpp"

namespace w = milter_wire;

namespace {

test_message small_message() {
  message_settings settings;
  settings.body_bytes = 300;
  settings.chunk_size = 128;  // three body chunks
  return realistic_message(settings);
}

// The command letters in order, e.g. "ODCHDM...".
std::string letters(const std::vector<std::string>& commands) {
  std::string out;
  for (const auto& command : commands) out.push_back(command[0]);
  return out;
}

}  // namespace

TEST(milter_wire, frames_length_command_and_data) {
  std::string out;
  w::append_packet(out, 'M', std::string("<a@b>\0", 6));
  ASSERT_EQ(out.size(), 4U + 1U + 6U);
  EXPECT_EQ(w::read_u32(out, 0), 7U);
  EXPECT_EQ(out[4], 'M');
  EXPECT_EQ(w::printable(std::string_view(out).substr(5)), "<a@b>");
  EXPECT_EQ(w::read_u32("ab", 0), 0U) << "out of range reads give 0";
}

TEST(milter_wire, reader_splits_joined_packets_and_joins_split_ones) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::string bytes;
  w::append_packet(bytes, 'h', std::string("X-A\0v\0", 6));
  w::append_packet(bytes, 'c', "");
  w::append_packet(bytes, 'y', std::string("550 5.7.1 no\0", 13));
  // The first two arrive together, the third in two pieces.
  std::size_t cut = bytes.size() - 7;
  ASSERT_TRUE(w::write_all(pair[1], std::string_view(bytes).substr(0, cut)));
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    w::write_all(pair[1], std::string_view(bytes).substr(cut));
  });
  w::packet_reader reader(pair[0]);
  w::packet packet;
  std::vector<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(reader.next(packet, 2000), w::read_status::ok);
    seen.push_back(packet.command + w::printable(packet.data));
  }
  late.join();
  EXPECT_EQ(seen, (std::vector<std::string>{"hX-A|v", "c", "y550 5.7.1 no"}));
  EXPECT_EQ(reader.next(packet, 50), w::read_status::timeout);
  close(pair[1]);
  EXPECT_EQ(reader.next(packet, 2000), w::read_status::closed);
  close(pair[0]);
}

TEST(milter_wire, reader_refuses_impossible_lengths) {
  for (std::uint32_t length : {0U, 0x7fffffffU}) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::string bytes;
    w::append_u32(bytes, length);
    bytes += "c";
    ASSERT_TRUE(w::write_all(pair[1], bytes));
    w::packet_reader reader(pair[0]);
    w::packet packet;
    EXPECT_EQ(reader.next(packet, 2000), w::read_status::oversize) << length;
    close(pair[0]);
    close(pair[1]);
  }
}

TEST(mta_session, sends_every_stage_with_its_macros_first) {
  scripted_filter filter(0, {});
  mta_session session(filter.socket_path(), 2000);
  test_message message = small_message();
  std::string error;
  message_outcome refused;
  ASSERT_TRUE(session.open(message, error, refused)) << error;
  EXPECT_EQ(refused.result, verdict::continued);
  message_outcome outcome = session.send_message(message, 7, false);
  EXPECT_EQ(outcome.result, verdict::continued) << outcome.error;
  session.quit();
  auto commands = filter.received();
  std::string sequence = letters(commands);
  // negotiation, connect macros + connect, HELO, MAIL macros + MAIL, two
  // recipients with their macros, DATA, 8 headers, end of headers, three
  // body chunks, end-of-body macros + end of body, QUIT.
  EXPECT_EQ(sequence, "ODCHDMDRDRTLLLLLLLLNBBBDEQ");
  EXPECT_EQ(commands[1],
            "DCj|mail.sandbox.test|_|mail.example.net [192.0.2.7]|{daemon_name}|MTA-v4|"
            "{if_name}|localhost|{if_addr}|127.0.0.1");
  EXPECT_EQ(commands[2].substr(0, 18), "Cmail.example.net|");
  EXPECT_EQ(
      commands[4],
      "DMi|4B0000000007|{mail_mailer}|smtp|{mail_host}|pass.test|{mail_addr}|alice@pass.test");
  EXPECT_EQ(commands[5], "M<alice@pass.test>");
  EXPECT_EQ(commands[7], "R<bob@example.com>");
  EXPECT_EQ(commands[12], "LFrom|Alice Example <alice@pass.test>");
  EXPECT_EQ(session.tally().by_letter['c'], 19U) << "one per answered command";
}

TEST(mta_session, honours_the_steps_and_replies_the_filter_declines) {
  const std::uint32_t flags =
      w::no_helo | w::no_body | w::no_data | w::nr_header | w::nr_rcpt | w::header_leading_space;
  scripted_filter filter(flags, {{'L', {}}, {'R', {}}});
  mta_session session(filter.socket_path(), 2000);
  test_message message = small_message();
  std::string error;
  message_outcome refused;
  ASSERT_TRUE(session.open(message, error, refused)) << error;
  EXPECT_EQ(session.send_message(message, 1, false).result, verdict::continued);
  session.quit();
  auto commands = filter.received();
  std::string sequence = letters(commands);
  EXPECT_EQ(sequence, "ODCDMDRDRLLLLLLLLNDEQ")
      << "no HELO, DATA or body; headers and recipients unanswered";
  EXPECT_EQ(commands[9],
            "LReceived| from mail.example.net (mail.example.net [192.0.2.7])??by mail.sandbox.test "
            "(8.17.1/8.17.1) with ESMTP")
      << "header values get their leading space when the filter asks for it";
}

TEST(mta_session, reads_modifications_before_the_final_reply) {
  struct row {
    std::vector<std::pair<char, std::string>> eom;
    verdict expected;
  };
  const std::vector<row> rows = {
      {{{'h', std::string("X-A\0v\0", 6)},
        {'+', std::string("<c@d>\0", 6)},
        {'q', std::string("why\0", 4)},
        {'m', std::string("\0\0\0\1Subject\0[SPAM] x\0", 22)},
        {'c', ""}},
       verdict::continued},
      {{{'h', std::string("X-A\0v\0", 6)}, {'y', std::string("550 5.7.1 Unwanted\0", 19)}},
       verdict::rejected},
      {{{'y', std::string("451 4.3.0 later\0", 16)}}, verdict::tempfailed},
      {{{'p', ""}, {'a', ""}}, verdict::accepted},
      {{{'d', ""}}, verdict::discarded},
      {{{'t', ""}}, verdict::tempfailed},
      {{{'r', ""}}, verdict::rejected},
  };
  for (const auto& r : rows) {
    scripted_filter filter(0, {{'E', r.eom}});
    mta_session session(filter.socket_path(), 2000);
    test_message message = small_message();
    std::string error;
    message_outcome refused;
    ASSERT_TRUE(session.open(message, error, refused)) << error;
    message_outcome outcome = session.send_message(message, 1, false);
    EXPECT_EQ(outcome.result, r.expected) << verdict_name(outcome.result) << " / " << outcome.error;
    EXPECT_TRUE(session.usable());
    for (const auto& [letter, data] : r.eom)
      EXPECT_GE(session.tally().by_letter[static_cast<unsigned char>(letter)], 1U);
    session.quit();
  }
}

TEST(mta_session, refusals_before_the_end_abandon_the_message) {
  struct row {
    char stage;
    char reply;
    verdict expected;
    std::string tail;  // commands from the refused one to the end
  };
  // The filter refuses at that stage every time, so both messages of the
  // connection end there, each followed by the abort command.
  const std::vector<row> rows = {
      {'M', 'r', verdict::rejected, "MADMAQ"},
      {'M', 'a', verdict::accepted, "MADMAQ"},
      {'R', 'r', verdict::rejected, "RDRADMDRDRAQ"},  // both recipients refused
      {'R', 'd', verdict::discarded, "RADMDRAQ"},
      {'N', 't', verdict::tempfailed, "NADMDRDRTLLLLLLLLNAQ"},
  };
  for (const auto& r : rows) {
    scripted_filter filter(0, {{r.stage, {{r.reply, ""}}}});
    mta_session session(filter.socket_path(), 2000);
    test_message message = small_message();
    std::string error;
    message_outcome refused;
    ASSERT_TRUE(session.open(message, error, refused)) << error;
    EXPECT_EQ(session.send_message(message, 1, false).result, r.expected) << r.stage << r.reply;
    session.send_message(message, 2, false);
    session.quit();
    auto commands = filter.received();
    std::string sequence = letters(commands);
    auto at = sequence.find(r.stage, 4);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(sequence.substr(at), r.tail) << r.stage << r.reply;
  }
}

TEST(mta_session, connect_refusal_counts_and_closes) {
  scripted_filter filter(0, {{'C', {{'y', std::string("550 5.7.1 go away\0", 18)}}}});
  mta_session session(filter.socket_path(), 2000);
  std::string error;
  message_outcome refused;
  ASSERT_TRUE(session.open(small_message(), error, refused)) << error;
  EXPECT_EQ(refused.result, verdict::rejected);
  EXPECT_FALSE(session.usable());
  EXPECT_EQ(filter.received().back(), "Q");
}

TEST(mta_session, a_filter_that_goes_away_is_an_error) {
  scripted_filter filter(0, {}, /*close_after_body=*/true);
  mta_session session(filter.socket_path(), 2000);
  test_message message = small_message();
  std::string error;
  message_outcome refused;
  ASSERT_TRUE(session.open(message, error, refused)) << error;
  message_outcome outcome = session.send_message(message, 1, false);
  EXPECT_EQ(outcome.result, verdict::failed);
  EXPECT_EQ(outcome.error, "filter closed the connection");
  EXPECT_FALSE(session.usable());
}

TEST(mta_session, no_filter_listening_is_an_error) {
  mta_session session("/nonexistent-dir/filter.sock", 200);
  std::string error;
  message_outcome refused;
  EXPECT_FALSE(session.open(small_message(), error, refused));
  EXPECT_NE(error.find("cannot connect to /nonexistent-dir/filter.sock"), std::string::npos)
      << error;
}

TEST(load_stats, percentile_by_nearest_rank) {
  std::vector<double> samples;
  for (int i = 1; i <= 100; ++i) samples.push_back(i);
  struct row {
    double fraction;
    double expected;
  };
  for (const row& r :
       {row{0.5, 50}, row{0.95, 95}, row{0.99, 99}, row{1.0, 100}, row{0.001, 1}, row{0, 1}}) {
    EXPECT_EQ(percentile(samples, r.fraction), r.expected) << r.fraction;
  }
  EXPECT_EQ(percentile({}, 0.5), 0);
  EXPECT_EQ(percentile({7}, 0.99), 7);
}

TEST(load_stats, reads_cpu_and_memory_from_proc_texts) {
  // A command name with spaces and a parenthesis must not shift the fields.
  std::string stat = "1234 (a b) c) S 1 1 1 0 -1 4194560 100 0 0 0 250 150 0 0 20 0 3 0 1 1 1";
  auto cpu = cpu_seconds_from_stat(stat, 100);
  ASSERT_TRUE(cpu.has_value());
  EXPECT_DOUBLE_EQ(*cpu, 4.0);
  EXPECT_FALSE(cpu_seconds_from_stat("garbage", 100).has_value());
  std::string status = "Name:\tteslo\nVmHWM:\t    5120 kB\nVmRSS:\t    4096 kB\n";
  EXPECT_EQ(status_kb(status, "VmHWM"), 5120U);
  EXPECT_EQ(status_kb(status, "VmRSS"), 4096U);
  EXPECT_FALSE(status_kb(status, "VmPeak").has_value());
  auto own = read_process_figures(getpid());
  ASSERT_TRUE(own.has_value());
  EXPECT_GT(own->peak_rss_kb, 0U);
}
