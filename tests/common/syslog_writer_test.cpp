// The syslog client: the exact datagram glibc's syslog() sends, whole long
// lines, %m, the stream-socket fallback and reconnection after the log
// daemon restarts.
#include "common/syslog_writer.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::string glibc_stamp(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%h %e %T", &parts);
  return text;
}

[[gnu::format(printf, 2, 3)]] void write_line(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  syslog_writer_line(priority, format, args);
  va_end(args);
}

int bound_socket(const std::string& path, int type) {
  int fd = socket(AF_UNIX, type, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  unlink(path.c_str());
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  if (type == SOCK_STREAM) {
    EXPECT_EQ(listen(fd, 1), 0);
  }
  return fd;
}

std::string receive(int fd) {
  std::string data(70000, '\0');
  ssize_t got = recv(fd, data.data(), data.size(), MSG_DONTWAIT);
  return got < 0 ? "<nothing>" : data.substr(0, static_cast<std::size_t>(got));
}

// What glibc would send for `text` at notice/mail from KORVAL; the second
// may tick between the send and this check, so both stamps are tried.
bool is_line(const std::string& got, const std::string& text, std::time_t before) {
  for (std::time_t when = before; when <= std::time(nullptr); ++when) {
    std::string want =
        "<21>" + glibc_stamp(when) + " KORVAL[" + std::to_string(getpid()) + "]: " + text;
    if (got == want) return true;
  }
  ADD_FAILURE() << "got '" << got << "'";
  return false;
}

class syslog_writer : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base != nullptr ? base : "/tmp") + "/syslog_writer_XXXXXX";
    dir_ = templ;
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
    path_ = dir_ + "/log";
  }
  void TearDown() override {
    syslog_writer_close();
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
  std::string path_;
};

}  // namespace

TEST(syslog_header, matches_glibc_stamp_identity_and_pid) {
  const std::time_t times[] = {0,          86399,      951782400 /* 29 Feb 2000 */,
                               1700000000, 1704067199, 1262304000 + 9 * 86400 + 3723};
  for (std::time_t when : times) {
    char header[128];
    std::size_t length =
        syslog_header(header, sizeof header, LOG_MAIL | LOG_NOTICE, when, "KORVAL", 42);
    EXPECT_EQ(std::string(header, length), "<21>" + glibc_stamp(when) + " KORVAL[42]: ") << when;
    length = syslog_header(header, sizeof header, LOG_MAIL | LOG_DEBUG, when, "tag", 0);
    EXPECT_EQ(std::string(header, length), "<23>" + glibc_stamp(when) + " tag: ") << when;
  }
  char tiny[8];
  EXPECT_EQ(syslog_header(tiny, sizeof tiny, LOG_MAIL | LOG_NOTICE, 0, "KORVAL", 42), 0u);
}

TEST_F(syslog_writer, sends_the_glibc_datagram_whole_and_keeps_errno) {
  int receiver = bound_socket(path_, SOCK_DGRAM);
  ASSERT_TRUE(syslog_writer_open("KORVAL", LOG_PID, LOG_MAIL, path_.c_str()));
  EXPECT_TRUE(syslog_writer_active());
  std::time_t before = std::time(nullptr);

  write_line(LOG_NOTICE, "DNSBL: %s, %s, %s", "192.0.2.7", "mail.example.net", "<a@b.test>");
  EXPECT_TRUE(is_line(receive(receiver), "DNSBL: 192.0.2.7, mail.example.net, <a@b.test>", before));

  std::string long_text(5000, 'x');
  write_line(LOG_NOTICE, "%s", long_text.c_str());
  EXPECT_TRUE(is_line(receive(receiver), long_text, before));

  errno = ENOENT;
  write_line(LOG_NOTICE, "open: %m");
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(is_line(receive(receiver), std::string("open: ") + std::strerror(ENOENT), before));

  // An explicit facility is kept.
  write_line(LOG_LOCAL0 | LOG_ERR, "x");
  EXPECT_EQ(receive(receiver).substr(0, 5), "<131>");
  close(receiver);
}

TEST_F(syslog_writer, reconnects_once_when_the_log_daemon_restarted) {
  int first = bound_socket(path_, SOCK_DGRAM);
  ASSERT_TRUE(syslog_writer_open("KORVAL", LOG_PID | LOG_NDELAY, LOG_MAIL, path_.c_str()));
  std::time_t before = std::time(nullptr);
  write_line(LOG_INFO, "one");
  EXPECT_NE(receive(first), "<nothing>");
  close(first);
  int second = bound_socket(path_, SOCK_DGRAM);
  write_line(LOG_NOTICE, "two");
  EXPECT_TRUE(is_line(receive(second), "two", before));
  close(second);
  // Nobody listening: the line is dropped quietly; a new daemon gets the next.
  unlink(path_.c_str());
  write_line(LOG_NOTICE, "lost");
  int third = bound_socket(path_, SOCK_DGRAM);
  write_line(LOG_NOTICE, "three");
  EXPECT_TRUE(is_line(receive(third), "three", before));
  close(third);
}

// With every descriptor taken (a flood of stalled connections), the
// reconnection after a log daemon restart still gets its line out.
TEST_F(syslog_writer, reconnects_through_its_reserve_when_descriptors_ran_out) {
  int first = bound_socket(path_, SOCK_DGRAM);
  ASSERT_TRUE(syslog_writer_open("KORVAL", LOG_PID | LOG_NDELAY, LOG_MAIL, path_.c_str()));
  close(first);
  int second = bound_socket(path_, SOCK_DGRAM);
  std::vector<int> taken;
  for (int fd; (fd = open("/dev/null", O_RDONLY)) != -1;) taken.push_back(fd);
  ASSERT_EQ(errno, EMFILE);
  std::time_t before = std::time(nullptr);
  write_line(LOG_NOTICE, "out of descriptors");
  for (int fd : taken) close(fd);
  EXPECT_TRUE(is_line(receive(second), "out of descriptors", before));
  close(second);
}

TEST_F(syslog_writer, falls_back_to_a_stream_socket_with_a_final_nul) {
  int listener = bound_socket(path_, SOCK_STREAM);
  ASSERT_TRUE(syslog_writer_open("KORVAL", LOG_PID, LOG_MAIL, path_.c_str()));
  std::time_t before = std::time(nullptr);
  write_line(LOG_NOTICE, "over a stream");
  int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::string got = receive(peer);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), '\0');
  got.pop_back();
  EXPECT_TRUE(is_line(got, "over a stream", before));
  close(peer);
  close(listener);
}

TEST_F(syslog_writer, leaves_console_and_stderr_options_to_glibc) {
  EXPECT_FALSE(syslog_writer_open("KORVAL", LOG_PID | LOG_CONS, LOG_MAIL, path_.c_str()));
  EXPECT_FALSE(syslog_writer_open("KORVAL", LOG_PID | LOG_PERROR, LOG_MAIL, path_.c_str()));
  EXPECT_FALSE(syslog_writer_active());
  ASSERT_TRUE(syslog_writer_open("KORVAL", LOG_PID, LOG_MAIL, path_.c_str()));
  syslog_writer_close();
  EXPECT_FALSE(syslog_writer_active());
}
