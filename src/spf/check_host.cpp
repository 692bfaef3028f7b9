// The SPF evaluation (see check_host.hpp).
#include "spf/check_host.hpp"

#include <algorithm>
#include <map>

#include "spf/client_address.hpp"
#include "spf/spf_macro.hpp"
#include "spf/spf_record.hpp"
#include "spf/spf_result.hpp"

namespace {

constexpr int term_limit = 10;         // DNS-querying terms, includes and redirects counted
constexpr int void_limit = 2;          // answers with no such name or no records
constexpr std::size_t mx_limit = 10;   // MX names looked at
constexpr std::size_t ptr_limit = 10;  // PTR names looked at

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

std::string without_final_dot(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// A name that can be asked: labels of 1 to 63 characters, at least two of
// them (a final dot aside), at most 253 characters.
bool askable_domain(const std::string& name) {
  std::string bare = without_final_dot(name);
  if (bare.empty() || bare.size() > 253) return false;
  std::size_t labels = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= bare.size(); ++i) {
    if (i == bare.size() || bare[i] == '.') {
      std::size_t length = i - start;
      if (length == 0 || length > 63) return false;
      ++labels;
      start = i + 1;
    }
  }
  return labels >= 2;
}

bool ends_with_domain(const std::string& name, const std::string& domain) {
  std::string a = lowered(without_final_dot(name));
  std::string b = lowered(without_final_dot(domain));
  if (a == b) return true;
  return a.size() > b.size() && a.compare(a.size() - b.size(), b.size(), b) == 0 &&
         a[a.size() - b.size() - 1] == '.';
}

// Printable ASCII only, for the log.
std::string printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    out += byte >= 0x20 && byte < 0x7f ? c : '?';
  }
  return out;
}

int32_t qualifier_result(char qualifier) {
  switch (qualifier) {
    case '-': return spf_code::fail;
    case '~': return spf_code::softfail;
    case '?': return spf_code::neutral;
    default: return spf_code::pass;
  }
}

class evaluation {
 public:
  evaluation(const spf_request& request, dns_source& dns) : request_(request), dns_(dns) {}

  spf_verdict run();

 private:
  enum class match { no, yes, error };

  int32_t check(const std::string& domain);
  int32_t check_record(const spf_record& record, const std::string& domain);
  match evaluate(const spf_term& term, const std::string& domain);
  match include(const spf_term& term, const std::string& domain);
  match address_term(const spf_term& term, const std::string& domain);
  match mx(const spf_term& term, const std::string& domain);
  match ptr(const spf_term& term, const std::string& domain);
  match exists(const spf_term& term, const std::string& domain);

  void ask_ahead(const spf_record& record, const std::string& domain);
  std::string target(const std::string& spec, const std::string& domain, uint32_t& letters);
  bool count_term();
  bool count_void(const dns_reply& reply);
  match dns_failure(const std::string& name);
  match error(int32_t result, std::string problem);
  dns_type address_type() const { return client_.v6 ? dns_type::aaaa : dns_type::a; }
  std::vector<std::string> validated_names(const std::string& domain);
  std::string validated_name(const std::string& domain);
  std::string find_validated_name(const std::string& domain);
  bool has_client_address(const std::string& name, bool& failed);

  const spf_request& request_;
  dns_source& dns_;
  ip_address client_;
  macro_values values_;
  int terms_ = 0;
  int voids_ = 0;
  int ahead_left_ = term_limit;  // questions of terms that may still be asked ahead
  uint32_t letters_ = 0;
  int32_t error_ = 0;
  std::string problem_;
  std::map<std::string, std::string> validated_name_of_;  // %{p}, once per domain
};

spf_verdict evaluation::run() {
  client_ = request_.client;
  if (client_.v6) {
    ip_address mapped;
    if (parse_ip_address(address_text(client_), mapped)) client_ = mapped;
  }
  std::string sender = request_.sender.empty() ? "postmaster@" + request_.helo : request_.sender;
  std::size_t at = sender.rfind('@');
  std::string local = at == std::string::npos ? "" : sender.substr(0, at);
  std::string domain = at == std::string::npos ? sender : sender.substr(at + 1);
  if (local.empty()) local = "postmaster";
  values_.sender = local + '@' + domain;
  values_.local_part = local;
  values_.sender_domain = domain;
  values_.client_dotted = address_dotted(client_);
  values_.client_text = address_text(client_);
  values_.client_v6 = client_.v6;
  values_.helo = request_.helo;
  values_.receiver = request_.receiver;

  spf_verdict verdict;
  verdict.result = check(domain);
  verdict.macro_letters = letters_;
  if (verdict.result == spf_code::temperror || verdict.result == spf_code::permerror) {
    verdict.problem = printable(problem_);
  }
  return verdict;
}

// check_host() for one domain: the sender's, an include's or a redirect's.
int32_t evaluation::check(const std::string& domain) {
  if (!askable_domain(domain)) return spf_code::none;
  dns_reply reply = dns_.lookup(without_final_dot(domain), dns_type::txt);
  if (reply.status == dns_reply::failed) {
    problem_ = "DNS failure fetching the record of " + domain;
    return spf_code::temperror;
  }
  const std::string* found = nullptr;
  for (const std::string& text : reply.texts) {
    if (!is_spf_record(text)) continue;
    if (found != nullptr) {
      problem_ = "more than one SPF record at " + domain;
      return spf_code::permerror;
    }
    found = &text;
  }
  if (found == nullptr) return spf_code::none;
  spf_record record;
  std::string problem;
  if (!parse_spf_record(*found, record, problem)) {
    problem_ = problem + " (" + domain + ")";
    return spf_code::permerror;
  }
  return check_record(record, domain);
}

int32_t evaluation::check_record(const spf_record& record, const std::string& domain) {
  ask_ahead(record, domain);
  for (const spf_term& term : record.terms) {
    switch (evaluate(term, domain)) {
      case match::yes: return qualifier_result(term.qualifier);
      case match::error: return error_;
      case match::no: break;
    }
  }
  if (record.redirect.empty()) return spf_code::neutral;
  if (!count_term()) return error_;
  std::string name = target(record.redirect, domain, letters_);
  int32_t result = check(name);
  if (result == spf_code::none) {
    problem_ = "redirect to " + name + ", which has no SPF record";
    return spf_code::permerror;
  }
  return result;
}

evaluation::match evaluation::evaluate(const spf_term& term, const std::string& domain) {
  switch (term.mechanism) {
    case spf_mechanism::all: return match::yes;
    case spf_mechanism::include: return include(term, domain);
    case spf_mechanism::a: return address_term(term, domain);
    case spf_mechanism::mx: return mx(term, domain);
    case spf_mechanism::ptr: return ptr(term, domain);
    case spf_mechanism::exists: return exists(term, domain);
    case spf_mechanism::ip4:
    case spf_mechanism::ip6:
      return in_network(client_, term.network, client_.v6 ? term.cidr6 : term.cidr4) ? match::yes
                                                                                     : match::no;
  }
  return match::no;
}

evaluation::match evaluation::include(const spf_term& term, const std::string& domain) {
  if (!count_term()) return match::error;
  std::string name = target(term.domain_spec, domain, letters_);
  int32_t result = check(name);
  switch (result) {
    case spf_code::pass: return match::yes;
    case spf_code::fail:
    case spf_code::softfail:
    case spf_code::neutral: return match::no;
    case spf_code::temperror: return error(result, problem_);
    case spf_code::none:
      return error(spf_code::permerror, "include of " + name + ", which has no SPF record");
    default: return error(spf_code::permerror, problem_);
  }
}

evaluation::match evaluation::address_term(const spf_term& term, const std::string& domain) {
  if (!count_term()) return match::error;
  std::string name = target(term.domain_spec, domain, letters_);
  if (!askable_domain(name)) return match::no;
  dns_reply reply = dns_.lookup(without_final_dot(name), address_type());
  if (reply.status == dns_reply::failed) return dns_failure(name);
  if (!count_void(reply)) return match::error;
  int length = client_.v6 ? term.cidr6 : term.cidr4;
  for (const ip_address& address : reply.addresses) {
    if (in_network(client_, address, length)) return match::yes;
  }
  return match::no;
}

evaluation::match evaluation::mx(const spf_term& term, const std::string& domain) {
  if (!count_term()) return match::error;
  std::string name = target(term.domain_spec, domain, letters_);
  if (!askable_domain(name)) return match::no;
  dns_reply reply = dns_.lookup(without_final_dot(name), dns_type::mx);
  if (reply.status == dns_reply::failed) return dns_failure(name);
  if (!count_void(reply)) return match::error;
  if (reply.names.size() > mx_limit) {
    return error(spf_code::permerror, "more than 10 MX names at " + name);
  }
  for (const std::string& exchange : reply.names) dns_.ask_ahead(exchange, address_type());
  int length = client_.v6 ? term.cidr6 : term.cidr4;
  for (const std::string& exchange : reply.names) {
    if (!askable_domain(exchange)) continue;
    dns_reply addresses = dns_.lookup(exchange, address_type());
    if (addresses.status == dns_reply::failed) return dns_failure(exchange);
    for (const ip_address& address : addresses.addresses) {
      if (in_network(client_, address, length)) return match::yes;
    }
  }
  return match::no;
}

evaluation::match evaluation::ptr(const spf_term& term, const std::string& domain) {
  if (!count_term()) return match::error;
  std::string name = target(term.domain_spec, domain, letters_);
  std::vector<std::string> names = validated_names(name);
  if (error_ != 0) return match::error;
  for (const std::string& validated : names) {
    if (ends_with_domain(validated, name)) return match::yes;
  }
  return match::no;
}

evaluation::match evaluation::exists(const spf_term& term, const std::string& domain) {
  if (!count_term()) return match::error;
  std::string name = target(term.domain_spec, domain, letters_);
  if (!askable_domain(name)) return match::no;
  dns_reply reply = dns_.lookup(without_final_dot(name), dns_type::a);
  if (reply.status == dns_reply::failed) return dns_failure(name);
  if (!count_void(reply)) return match::error;
  return reply.addresses.empty() ? match::no : match::yes;
}

// The questions of the record's terms that do not depend on an earlier
// answer are sent together, before the first term is evaluated: at most as
// many as the term limit still allows, and at most 10 in the whole
// evaluation, so that the questions a match makes needless stay as few as
// the terms the limit allows.
void evaluation::ask_ahead(const spf_record& record, const std::string& domain) {
  int budget = std::min(term_limit - terms_, ahead_left_);
  auto ask = [&](const std::string& spec, dns_type type) {
    if (budget-- <= 0) return;
    --ahead_left_;
    if (lowered(spec).find("%{p") != std::string::npos) return;
    uint32_t ignored = 0;  // a question asked ahead is not yet a use of its letters
    std::string name = target(spec, domain, ignored);
    if (askable_domain(name)) dns_.ask_ahead(without_final_dot(name), type);
  };
  for (const spf_term& term : record.terms) {
    switch (term.mechanism) {
      case spf_mechanism::include: ask(term.domain_spec, dns_type::txt); break;
      case spf_mechanism::a: ask(term.domain_spec, address_type()); break;
      case spf_mechanism::mx: ask(term.domain_spec, dns_type::mx); break;
      case spf_mechanism::exists: ask(term.domain_spec, dns_type::a); break;
      case spf_mechanism::ptr:
        if (budget-- > 0) {
          --ahead_left_;
          dns_.ask_ahead(reverse_lookup_name(client_), dns_type::ptr);
        }
        break;
      default: break;
    }
  }
  if (!record.redirect.empty()) ask(record.redirect, dns_type::txt);
}

// The domain a term or modifier names: its domain-spec expanded, or the
// current domain when it has none.
std::string evaluation::target(const std::string& spec, const std::string& domain,
                               uint32_t& letters) {
  if (spec.empty()) return domain;
  macro_values values = values_;
  values.domain = domain;
  values.validated_name = [this, &domain] { return validated_name(domain); };
  return expand_macros(spec, values, letters);
}

bool evaluation::count_term() {
  if (++terms_ <= term_limit) return true;
  error_ = spf_code::permerror;
  problem_ = "more than 10 DNS-querying terms";
  return false;
}

bool evaluation::count_void(const dns_reply& reply) {
  if (reply.status == dns_reply::found) return true;
  if (++voids_ <= void_limit) return true;
  error_ = spf_code::permerror;
  problem_ = "more than 2 void lookups";
  return false;
}

evaluation::match evaluation::dns_failure(const std::string& name) {
  return error(spf_code::temperror, "DNS failure looking up " + name);
}

evaluation::match evaluation::error(int32_t result, std::string problem) {
  error_ = result;
  problem_ = std::move(problem);
  return match::error;
}

// The client's names that point back to it (RFC 7208 5.5): the PTR names,
// at most 10 looked at, each kept when one of its addresses is the
// client's. A failed PTR question gives none; a failed address question
// skips that name. Names ending in `domain` are asked first.
std::vector<std::string> evaluation::validated_names(const std::string& domain) {
  std::vector<std::string> validated;
  dns_reply reply = dns_.lookup(reverse_lookup_name(client_), dns_type::ptr);
  if (reply.status == dns_reply::failed) return validated;
  if (!count_void(reply)) return validated;
  std::vector<std::string> names = reply.names;
  if (names.size() > ptr_limit) names.resize(ptr_limit);
  std::stable_partition(names.begin(), names.end(),
                        [&](const std::string& name) { return ends_with_domain(name, domain); });
  for (const std::string& name : names) {
    if (askable_domain(name)) dns_.ask_ahead(name, address_type());
  }
  for (const std::string& name : names) {
    bool failed = false;
    if (askable_domain(name) && has_client_address(name, failed)) validated.push_back(name);
  }
  return validated;
}

bool evaluation::has_client_address(const std::string& name, bool& failed) {
  dns_reply reply = dns_.lookup(name, address_type());
  failed = reply.status == dns_reply::failed;
  return std::any_of(reply.addresses.begin(), reply.addresses.end(),
                     [&](const ip_address& address) { return address == client_; });
}

// %{p}: the validated name that is the domain itself, else one of its
// subdomains, else any; "unknown" when there is none.
std::string evaluation::validated_name(const std::string& domain) {
  auto known = validated_name_of_.find(domain);
  if (known != validated_name_of_.end()) return known->second;
  std::string name = find_validated_name(domain);
  validated_name_of_.emplace(domain, name);
  return name;
}

std::string evaluation::find_validated_name(const std::string& domain) {
  int32_t saved_error = error_;
  std::vector<std::string> names = validated_names(domain);
  error_ = saved_error;
  for (const std::string& name : names) {
    if (lowered(without_final_dot(name)) == lowered(without_final_dot(domain))) return name;
  }
  for (const std::string& name : names) {
    if (ends_with_domain(name, domain)) return name;
  }
  return names.empty() ? "unknown" : names.front();
}

}  // namespace

spf_verdict check_host(const spf_request& request, dns_source& dns) {
  return evaluation(request, dns).run();
}
