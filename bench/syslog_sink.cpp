// A lean /dev/log receiver for the load benchmark.
//
// The sandbox's own syslog receiver is a Python script that writes every
// line unbuffered, which costs more CPU per line than the daemon spends
// producing it. A production syslog daemon reads the datagram and appends it
// to a buffered file; this does the same, so the benchmark charges the
// filter's log lines at a realistic price.
//
// usage: syslog_sink SOCKET_PATH LOG_FILE     (runs until SIGTERM)
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

volatile std::sig_atomic_t stopping = 0;

void on_term(int) { stopping = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SOCKET_PATH LOG_FILE\n", argv[0]);
    return 2;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(argv[1]) >= sizeof address.sun_path) return 2;
  std::memcpy(address.sun_path, argv[1], std::strlen(argv[1]) + 1);  // fits: checked above
  unlink(argv[1]);
  int sock = socket(AF_UNIX, SOCK_DGRAM, 0);
  if (sock < 0 || bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("syslog_sink: bind");
    return 1;
  }
  chmod(argv[1], 0666);
  FILE* log = std::fopen(argv[2], "a");
  if (log == nullptr) return 1;
  struct sigaction action {};
  action.sa_handler = on_term;  // no SA_RESTART: recv returns on SIGTERM
  sigaction(SIGTERM, &action, nullptr);

  char datagram[65536];
  while (!stopping) {
    ssize_t size = recv(sock, datagram, sizeof datagram, 0);
    if (size <= 0) continue;
    std::fwrite(datagram, 1, static_cast<size_t>(size), log);
    std::fputc('\n', log);
  }
  std::fclose(log);
  return 0;
}
