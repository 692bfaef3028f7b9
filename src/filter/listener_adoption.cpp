// bind() of the filter program: the inherited listener for libmilter (see
// listener_adoption.hpp).
#include "filter/listener_adoption.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace {

// Set before libmilter's listener starts, on the main thread; read by the
// bind() it calls on the same thread.
int waiting_listener = -1;
const char* listener_path = nullptr;
bool adopted = false;

bool is_listener_path(const sockaddr* address, socklen_t length) {
  if (address == nullptr || address->sa_family != AF_UNIX || listener_path == nullptr) {
    return false;
  }
  constexpr std::size_t path_offset = offsetof(sockaddr_un, sun_path);
  if (length <= path_offset) return false;
  const auto* local = reinterpret_cast<const sockaddr_un*>(address);
  std::size_t room = length - path_offset;
  std::size_t wanted = std::strlen(listener_path);
  return strnlen(local->sun_path, room) == wanted &&
         std::memcmp(local->sun_path, listener_path, wanted) == 0;
}

}  // namespace

void adopt_listener_at_bind(int listener, const char* path) {
  waiting_listener = listener;
  listener_path = path;
  adopted = false;
}

bool listener_adopted() { return adopted; }

extern "C" int bind(int socket, const sockaddr* address, socklen_t length) {
  if (waiting_listener >= 0 && is_listener_path(address, length)) {
    if (dup3(waiting_listener, socket, O_CLOEXEC) < 0) return -1;
    close(waiting_listener);
    waiting_listener = -1;
    adopted = true;
    return 0;
  }
  return static_cast<int>(syscall(SYS_bind, socket, address, length));
}
