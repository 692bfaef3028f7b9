// The filter socket handed to a group: 0660 with the group when one is
// named, untouched (0600) without one or when the group does not exist.
#include "monitor/socket_access.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include "fake_milter/log_capture.hpp"
#include "mtaconfig/mta_test_support.hpp"

namespace {

// A UNIX socket bound under the daemon's mask 0177 in a scratch directory.
class bound_socket {
 public:
  bound_socket() : path_(dir_.path("teslo.sock")) {
    sockaddr_un address{};
    if (path_.size() >= sizeof address.sun_path) {
      throw std::runtime_error("scratch path too long for a UNIX socket: " + path_);
    }
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    mode_t old_mask = umask(0177);
    int bound = fd_ < 0 ? -1 : bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    umask(old_mask);
    if (bound != 0) {
      std::string reason = std::strerror(errno);
      if (fd_ >= 0) close(fd_);
      throw std::runtime_error("cannot bind a UNIX socket at " + path_ + ": " + reason);
    }
  }
  ~bound_socket() { close(fd_); }
  bound_socket(const bound_socket&) = delete;
  bound_socket& operator=(const bound_socket&) = delete;

  const char* path() const { return path_.c_str(); }
  struct stat status() const {
    struct stat result {};
    if (stat(path_.c_str(), &result) != 0) throw std::runtime_error("cannot stat " + path_);
    return result;
  }

 private:
  mta_test::scratch_dir dir_;
  std::string path_;
  int fd_ = -1;
};

// The name of a group the test may give its own files to.
std::string own_group() {
  const group* entry = getgrgid(getegid());
  return entry != nullptr ? entry->gr_name : "";
}

}  // namespace

TEST(share_socket_with_group, named_group_gets_the_socket_read_write) {
  std::string name = own_group();
  if (name.empty()) GTEST_SKIP() << "the test's own group has no name";
  bound_socket sock;
  EXPECT_TRUE(share_socket_with_group(sock.path(), name.c_str()));
  EXPECT_EQ(sock.status().st_mode & 07777, 0660U);
  EXPECT_EQ(sock.status().st_gid, getegid());
}

TEST(share_socket_with_group, without_a_group_or_an_existing_one_the_socket_stays_0600) {
  struct group_case {
    const char* group;
    bool want_result;
    const char* want_log;  // nullptr: nothing logged
  };
  const group_case cases[] = {
      {nullptr, true, nullptr},
      {"", true, nullptr},
      {"teslo-no-such-group", false,
       "socketgroup teslo-no-such-group: no such group, the socket stays 0600 root"},
  };
  for (const group_case& c : cases) {
    SCOPED_TRACE(c.group != nullptr ? c.group : "(null)");
    fake_milter::log_capture log;
    bound_socket sock;
    struct stat before = sock.status();
    EXPECT_EQ(share_socket_with_group(sock.path(), c.group), c.want_result);
    EXPECT_EQ(sock.status().st_mode & 07777, 0600U);
    EXPECT_EQ(sock.status().st_gid, before.st_gid);
    if (c.want_log == nullptr) {
      EXPECT_TRUE(log.lines().empty());
    } else {
      EXPECT_TRUE(log.contains(LOG_ERR, c.want_log)) << ::testing::PrintToString(log.texts());
    }
  }
}
