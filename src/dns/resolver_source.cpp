// The DNS source of one SPF evaluation (see resolver_source.hpp).
#include "dns/resolver_source.hpp"

#include <arpa/nameser.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "dns/answer_parse.hpp"
#include "dns/name_servers.hpp"
#include "dns/tcp_exchange.hpp"
#include "dns/udp_query.hpp"

namespace {

using clock_type = resolver_source::clock_type;

dns_reply with_status(dns_reply::status_t status) {
  dns_reply reply;
  reply.status = status;
  return reply;
}

// The key a question is kept under: the name without ASCII case and final
// dot, and the type.
std::string key_name(const std::string& name) {
  std::string key = name;
  if (!key.empty() && key.back() == '.') key.pop_back();
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

// The longest res_nsend waits over UDP in one round of the servers: glibc
// gives the first server `retrans` seconds and server i (retrans << i) /
// nscount, at least 1.
int round_seconds(int retrans, int servers) {
  int total = 0;
  for (int index = 0; index < servers; ++index) {
    total += index == 0 ? retrans : std::max(1, (retrans << index) / servers);
  }
  return total;
}

struct send_settings {
  int retrans;
  int retry;
};

// The state's retrans and retry, lowered so that res_nsend's longest wait
// fits in `left`; nothing when not one round fits.
std::optional<send_settings> settings_within(res_state state, clock_type::duration left) {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left).count();
  int servers = std::max(1, name_server_count(state));
  int retry = std::max(1, state->retry);
  for (int retrans = std::max(1, state->retrans); retrans >= 1; --retrans) {
    auto rounds = seconds / round_seconds(retrans, servers);
    if (rounds >= 1)
      return send_settings{retrans, static_cast<int>(std::min<long long>(retry, rounds))};
  }
  return std::nullopt;
}

// The state's settings for one res_nsend: lowered retrans and retry, and a
// truncated answer handed back as it is (TCP is tcp_exchange's).
class lowered_settings {
 public:
  lowered_settings(res_state state, send_settings settings)
      : state_(state), retrans_(state->retrans), retry_(state->retry), options_(state->options) {
    state->retrans = settings.retrans;
    state->retry = settings.retry;
    state->options |= RES_IGNTC;
  }
  ~lowered_settings() {
    state_->retrans = retrans_;
    state_->retry = retry_;
    state_->options = options_;
  }
  lowered_settings(const lowered_settings&) = delete;
  lowered_settings& operator=(const lowered_settings&) = delete;

 private:
  res_state state_;
  int retrans_;
  int retry_;
  decltype(state_->options) options_;
};

}  // namespace

resolver_source::resolver_source(res_state state, clock_type::time_point deadline)
    : state_(state), deadline_(deadline) {}

resolver_source::~resolver_source() = default;

void resolver_source::ask_ahead(const std::string& name, dns_type type) { (void)entry(name, type); }

dns_reply resolver_source::lookup(const std::string& name, dns_type type) {
  question& asked = entry(name, type);
  if (!asked.answered) {
    asked.reply = answer(asked, name, type);
    asked.answered = true;
    asked.udp.reset();
  }
  return asked.reply;
}

resolver_source::question& resolver_source::entry(const std::string& name, dns_type type) {
  auto [found, inserted] = questions_.try_emplace(key{key_name(name), type});
  question& asked = found->second;
  if (!inserted) return asked;
  if (!name.empty() && clock_type::now() < deadline_) {
    asked.udp = std::make_unique<udp_query>(state_, name, type);
    if (asked.udp->encoded()) return asked;
    asked.udp.reset();
  }
  asked.answered = true;
  asked.reply =
      with_status(clock_type::now() < deadline_ ? dns_reply::nxdomain : dns_reply::failed);
  return asked;
}

dns_reply resolver_source::answer(question& asked, const std::string& name, dns_type type) {
  udp_query& udp = *asked.udp;
  auto per_try = std::chrono::seconds(std::max(1, state_->retrans));
  if (udp.await(std::min(udp.sent_at() + per_try, deadline_)) == udp_query::outcome::answered) {
    if (answer_truncated(udp.answer())) return over_tcp(udp, name, type);
    dns_reply reply = parse_answer(udp.answer(), name, type);
    if (reply.status != dns_reply::failed) return reply;
  }
  return ask_again(udp, name, type);
}

dns_reply resolver_source::ask_again(udp_query& udp, const std::string& name, dns_type type) {
  auto left = deadline_ - clock_type::now();
  if (left <= clock_type::duration::zero()) return with_status(dns_reply::failed);
  if ((state_->options & RES_USEVC) != 0) return over_tcp(udp, name, type);
  std::optional<send_settings> settings = settings_within(state_, left);
  std::vector<unsigned char> buffer;
  std::span<const unsigned char> message;
  if (settings) {
    buffer.resize(NS_MAXMSG);
    int length = 0;
    {
      lowered_settings lowered(state_, *settings);
      length = res_nsend(state_, udp.query().data(), static_cast<int>(udp.query().size()),
                         buffer.data(), static_cast<int>(buffer.size()));
    }
    if (length < 0) return with_status(dns_reply::failed);
    message = {buffer.data(), std::min(buffer.size(), static_cast<std::size_t>(length))};
  } else {
    // Not one round of res_nsend fits: one more try of our own.
    udp.send_again();
    if (udp.await(deadline_) != udp_query::outcome::answered) {
      return with_status(dns_reply::failed);
    }
    message = udp.answer();
  }
  if (answer_truncated(message)) return over_tcp(udp, name, type);
  return parse_answer(message, name, type);
}

dns_reply resolver_source::over_tcp(const udp_query& udp, const std::string& name, dns_type type) {
  if (clock_type::now() >= deadline_) return with_status(dns_reply::failed);
  std::vector<unsigned char> message = tcp_exchange(state_, udp.query(), deadline_);
  if (message.empty()) return with_status(dns_reply::failed);
  return parse_answer(message, name, type);
}
