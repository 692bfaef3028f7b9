// A blocklist question sent ahead (see dnsbl_question.hpp).
#include "checks/dnsbl_question.hpp"

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <poll.h>
#include <resolv.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <utility>

#include "checks/dnsbl_lookup.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int rcode_nxdomain = 3;

int remaining_ms(clock_type::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

dnsbl_question::dnsbl_question(std::string name) : name_(std::move(name)) {
  if (!dnsbl_uses_system_resolver()) return;
  res_state state = dnsbl_thread_resolver();
  if (state == nullptr || state->nscount < 1 || state->nsaddr_list[0].sin_family != AF_INET) return;
  query_length_ = res_nmkquery(state, ns_o_query, name_.c_str(), ns_c_in, ns_t_a, nullptr, 0,
                               nullptr, query_, sizeof query_);
  if (query_length_ <= 0) return;
  socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  const sockaddr_in& server = state->nsaddr_list[0];
  sent_ = clock_type::now();
  sent_wall_ = std::chrono::system_clock::now();
  wait_ = std::chrono::seconds(state->retrans > 0 ? state->retrans : 5);
  attempts_ = state->nscount == 1 && state->retry > 0 ? state->retry : 1;
  if (connect(socket_, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 ||
      send(socket_, query_, static_cast<std::size_t>(query_length_), MSG_NOSIGNAL) !=
          query_length_) {
    close(socket_);
    socket_ = -1;
  }
}

dnsbl_question::~dnsbl_question() {
  if (socket_ >= 0) close(socket_);
}

// When the last packet read from the socket arrived (the kernel's time stamp),
// so that the lookup's time does not include the client's time.
std::chrono::system_clock::time_point dnsbl_question::arrival_time() const {
  timeval stamp{};
  if (ioctl(socket_, SIOCGSTAMP, &stamp) != 0) return std::chrono::system_clock::now();
  return std::chrono::system_clock::time_point(std::chrono::seconds(stamp.tv_sec) +
                                               std::chrono::microseconds(stamp.tv_usec));
}

// The same id, one question, and the query's question (its name compared
// without case, then its type and class).
bool dnsbl_question::answers_query(const unsigned char* answer, int length) const {
  int question_length = query_length_ - NS_HFIXEDSZ;
  if (length < NS_HFIXEDSZ + question_length) return false;
  if (answer[0] != query_[0] || answer[1] != query_[1]) return false;
  if (answer[4] != 0 || answer[5] != 1) return false;
  const unsigned char* asked = query_ + NS_HFIXEDSZ;
  const unsigned char* echoed = answer + NS_HFIXEDSZ;
  int name_length = question_length - NS_QFIXEDSZ;
  for (int at = 0; at < name_length; ++at) {
    if (std::tolower(asked[at]) != std::tolower(echoed[at])) return false;
  }
  return std::memcmp(asked + name_length, echoed + name_length, NS_QFIXEDSZ) == 0;
}

// With one name server, as glibc does: the query is sent again after each
// timeout, the timeout doubling, and an answer to any of the copies counts;
// a server silent through every attempt is a failed lookup (not listed).
// With several, the first one's silence is left to the ordinary lookup,
// which goes on to the others.
dnsbl_question::early dnsbl_question::read_answer() {
  auto deadline = sent_ + wait_;
  int attempt = 1;
  unsigned char answer[NS_PACKETSZ * 4];
  for (;;) {
    pollfd watch{socket_, POLLIN, 0};
    int ready = poll(&watch, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && attempt < attempts_) {
      (void)send(socket_, query_, static_cast<std::size_t>(query_length_), MSG_NOSIGNAL);
      deadline += wait_ * (1 << attempt);
      ++attempt;
      continue;
    }
    if (ready == 0 && attempts_ > 1) {
      (void)dnsbl_decide(EAI_AGAIN, nullptr, clock_type::now() - sent_);
      return early::not_listed;
    }
    if (ready <= 0) return early::ask_again;
    ssize_t length = recv(socket_, answer, sizeof answer, 0);
    if (length < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (length < NS_HFIXEDSZ) return early::ask_again;
    // Another packet (a late answer to someone else, a forgery) is not ours.
    if (!answers_query(answer, static_cast<int>(length))) continue;
    bool is_response = (answer[2] & 0x80) != 0;
    bool truncated = (answer[2] & 0x02) != 0;
    int rcode = answer[3] & 0x0f;
    if (!is_response || truncated) return early::ask_again;
    auto took = arrival_time() - sent_wall_;
    if (rcode == rcode_nxdomain) {
      (void)dnsbl_decide(EAI_NONAME, nullptr, took);
      return early::not_listed;
    }
    if (rcode != ns_r_noerror) return early::ask_again;
    addrinfo* answers = nullptr;
    bool parsed = dnsbl_parse_answer(answer, static_cast<int>(length), ns_t_a, &answers);
    // Without a listing A record (none, or only the error answers of public
    // lists) the AAAA records decide: the ordinary lookup's question.
    if (!parsed || !dnsbl_answer_lists(answers)) {
      dnsbl_release_answers(answers);
      return early::ask_again;
    }
    (void)dnsbl_decide(0, answers, took);
    return early::listed;
  }
}

bool dnsbl_question::listed() {
  if (socket_ >= 0) {
    early outcome = read_answer();
    close(socket_);
    socket_ = -1;
    if (outcome != early::ask_again) return outcome == early::listed;
  }
  return dnsbl_name_listed(name_.c_str());
}
