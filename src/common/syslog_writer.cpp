// The syslog client of the daemon's log lines (see syslog_writer.hpp).
#include "common/syslog_writer.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/bounded_text.hpp"
#include "common/die.hpp"

namespace {

// Options whose datagrams this client reproduces; anything else (LOG_CONS,
// LOG_PERROR) is left to glibc.
constexpr int handled_options = LOG_PID | LOG_NDELAY | LOG_ODELAY | LOG_NOWAIT;
constexpr std::size_t line_buffer_size = 2048;
constexpr const char month_names[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::atomic<bool> active{false};
const char* log_identity = nullptr;
int log_option = 0;
int log_facility = LOG_USER;
int log_mask = 0xff;

// The socket's path, the socket and its type; guarded by socket_mutex.
pthread_mutex_t socket_mutex = PTHREAD_MUTEX_INITIALIZER;
const char* socket_path = nullptr;
int socket_fd = -1;
int socket_type = SOCK_DGRAM;
// A descriptor held back for the log: when the process has no descriptor
// left (a flood of stalled connections), a reconnection closes it and takes
// its place, so the line that says what happened still goes out. Taken again
// after the next line is sent. Guarded by socket_mutex.
int reserve_fd = -1;

void hold_reserve_locked() {
  if (reserve_fd == -1) reserve_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// A socket of `type`; the reserve gives way when descriptors have run out.
int new_socket_locked(int type) {
  int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd == -1 && (errno == EMFILE || errno == ENFILE) && reserve_fd != -1) {
    close(reserve_fd);
    reserve_fd = -1;
    fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  }
  return fd;
}

// getpid() is a system call; the pid changes only with fork (daemon()).
std::atomic<pid_t> cached_pid{0};
void forget_pid() { cached_pid.store(0, std::memory_order_relaxed); }
pid_t current_pid() {
  pid_t pid = cached_pid.load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = getpid();
    cached_pid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

// "Mmm dd hh:mm:ss" (strftime "%h %e %T" in the C locale) of the last second
// this thread logged in.
struct stamp_cache {
  std::time_t second = -1;
  bool valid = false;
  char text[16] = {};
};
thread_local stamp_cache stamp;

void put_two_digits(char* out, int value, char tens_blank) {
  out[0] = value >= 10 ? static_cast<char>('0' + value / 10) : tens_blank;
  out[1] = static_cast<char>('0' + value % 10);
}

// The time stamp for `when`, or null when localtime_r fails (glibc then sends
// the line without time stamp and identity).
const char* time_stamp(std::time_t when) {
  if (stamp.second == when) return stamp.valid ? stamp.text : nullptr;
  std::tm parts{};
  stamp.second = when;
  stamp.valid = localtime_r(&when, &parts) != nullptr && parts.tm_mon >= 0 && parts.tm_mon < 12;
  if (!stamp.valid) return nullptr;
  char* out = stamp.text;
  std::memcpy(out, month_names[parts.tm_mon], 3);
  out[3] = ' ';
  put_two_digits(out + 4, parts.tm_mday, ' ');
  out[6] = ' ';
  put_two_digits(out + 7, parts.tm_hour, '0');
  out[9] = ':';
  put_two_digits(out + 10, parts.tm_min, '0');
  out[12] = ':';
  put_two_digits(out + 13, parts.tm_sec, '0');
  out[15] = '\0';
  return stamp.text;
}

// Connects the socket (caller holds socket_mutex). As glibc: a log daemon that
// refuses the socket type (EPROTOTYPE) is tried once with the other type.
bool connect_locked() {
  if (socket_fd != -1) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path, sizeof address.sun_path - 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = new_socket_locked(socket_type);
    if (fd == -1) return false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      socket_fd = fd;
      return true;
    }
    int error = errno;
    close(fd);
    if (error != EPROTOTYPE) return false;
    socket_type = socket_type == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
  return false;
}

void disconnect_locked() {
  if (socket_fd == -1) return;
  close(socket_fd);
  socket_fd = -1;
}

// Sends the line (`length` characters, NUL-terminated); a stream socket gets
// the NUL too. One reconnection when the send fails, then the line is lost.
void send_line(const char* line, std::size_t length) {
  mutex_guard hold(&socket_mutex);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!connect_locked()) break;
    std::size_t size = socket_type == SOCK_STREAM ? length + 1 : length;
    if (send(socket_fd, line, size, MSG_NOSIGNAL) >= 0) {
      hold_reserve_locked();
      return;
    }
    disconnect_locked();
  }
  disconnect_locked();
}

}  // namespace

std::size_t syslog_header(char* out, std::size_t size, int priority, std::time_t when,
                          const char* identity, pid_t pid) {
  // Built by hand (as "<%d>%s %s[%d]: "): snprintf here cost more than the
  // rest of the line.
  bounded_text text(out, size);
  text.put('<').put_number(priority).put('>');
  const char* when_text = time_stamp(when);
  if (when_text == nullptr) {
    text.put(':').put(' ');
  } else {
    text.put(when_text).put(' ').put(identity);
    if (pid != 0) text.put('[').put_number(pid).put(']');
    text.put(':').put(' ');
  }
  return text.fitted() ? text.length() : 0;
}

bool syslog_writer_open(const char* identity, int option, int facility,
                        const char* socket_path_in_use) {
  if ((option & ~handled_options) != 0) return false;
  static pthread_once_t fork_hook = PTHREAD_ONCE_INIT;
  pthread_once(&fork_hook, [] { pthread_atfork(nullptr, nullptr, forget_pid); });
  mutex_guard hold(&socket_mutex);
  disconnect_locked();
  socket_path = socket_path_in_use;
  socket_type = SOCK_DGRAM;
  log_identity = identity;
  log_option = option;
  log_facility = (facility != 0 && (facility & ~LOG_FACMASK) == 0) ? facility : LOG_USER;
  log_mask = setlogmask(0);  // NOLINT(concurrency-mt-unsafe): reads the mask, under socket_mutex
  if ((option & LOG_NDELAY) != 0) (void)connect_locked();
  hold_reserve_locked();
  active.store(true, std::memory_order_release);
  return true;
}

bool syslog_writer_active() { return active.load(std::memory_order_acquire); }

void syslog_writer_line(int priority, const char* format, va_list args) {
  int saved_errno = errno;
  if ((priority & ~(LOG_PRIMASK | LOG_FACMASK)) != 0) {
    // glibc reports the bad priority in a line of its own first.
    vsyslog(priority, format, args);
    return;
  }
  if ((LOG_MASK(LOG_PRI(priority)) & log_mask) == 0) return;
  if ((priority & LOG_FACMASK) == 0) priority |= log_facility;

  const char* identity = log_identity != nullptr ? log_identity : program_invocation_short_name;
  pid_t pid = (log_option & LOG_PID) != 0 ? current_pid() : 0;
  char line[line_buffer_size];
  std::size_t header =
      syslog_header(line, sizeof line, priority, std::time(nullptr), identity, pid);
  if (header == 0) {  // an identity too long for the buffer
    vsyslog(priority, format, args);
    return;
  }
  va_list again;
  va_copy(again, args);
  errno = saved_errno;  // for %m
  int length = std::vsnprintf(line + header, sizeof line - header, format, args);
  if (length < 0) {
    va_end(again);
    errno = saved_errno;
    return;
  }
  std::size_t total = header + static_cast<std::size_t>(length);
  if (total < sizeof line) {
    va_end(again);
    send_line(line, total);
  } else {
    // Longer lines are sent whole, as glibc does.
    std::unique_ptr<char[]> long_line(new (std::nothrow) char[total + 1]);
    if (long_line != nullptr) {
      std::memcpy(long_line.get(), line, header);
      errno = saved_errno;
      (void)std::vsnprintf(long_line.get() + header, total + 1 - header, format, again);
      send_line(long_line.get(), total);
    }
    va_end(again);
  }
  errno = saved_errno;
}

void syslog_writer_close() {
  active.store(false, std::memory_order_release);
  mutex_guard hold(&socket_mutex);
  disconnect_locked();
  if (reserve_fd != -1) close(reserve_fd);
  reserve_fd = -1;
  log_identity = nullptr;
}
