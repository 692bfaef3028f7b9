// The DNS answer parser: which reply each response message gives, and
// which packets count as the answer to a query.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>

#include <ostream>
#include <string>
#include <vector>

#include "dns/answer_parse.hpp"
#include "dns/dns_messages.hpp"

namespace {

using namespace dns_messages;

constexpr uint16_t t_a = 1, t_cname = 5, t_ptr = 12, t_mx = 15, t_txt = 16, t_aaaa = 28;

std::string status_text(dns_reply::status_t status) {
  switch (status) {
    case dns_reply::found: return "found";
    case dns_reply::nxdomain: return "nxdomain";
    case dns_reply::nodata: return "nodata";
    case dns_reply::failed: return "failed";
  }
  return "?";
}

// The reply as one line: status, then each record.
std::string describe(const dns_reply& reply) {
  std::string out = status_text(reply.status);
  for (const auto& text : reply.texts) out += " txt[" + text + "]";
  for (const auto& name : reply.names) out += " name[" + name + "]";
  for (const auto& address : reply.addresses) {
    char text[INET6_ADDRSTRLEN];
    inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text);
    out += std::string(" ip[") + text + "]";
  }
  return out;
}

bytes cut(bytes message, std::size_t keep) {
  message.resize(keep);
  return message;
}

bytes with_byte(bytes message, std::size_t at, unsigned char value) {
  message[at] = value;
  return message;
}

const bytes owner = name("a.example");
const bytes at_question = pointer(12);

struct parse_case {
  const char* what;
  bytes message;
  std::string name;
  dns_type type;
  std::string want;
};

const bytes a_answer = response(7, 0, "a.example", t_a, {record(owner, t_a, a("192.0.2.1"))});

const parse_case parse_cases[] = {
    // Outcomes.
    {"two A records",
     response(7, 0, "a.example", t_a,
              {record(owner, t_a, a("192.0.2.1")), record(at_question, t_a, a("192.0.2.2"))}),
     "a.example", dns_type::a, "found ip[192.0.2.1] ip[192.0.2.2]"},
    {"AAAA", response(7, 0, "a.example", t_aaaa, {record(owner, t_aaaa, aaaa("2001:db8::1"))}),
     "a.example", dns_type::aaaa, "found ip[2001:db8::1]"},
    {"no such name", response(7, ns_r_nxdomain, "a.example", t_a, {}), "a.example", dns_type::a,
     "nxdomain"},
    {"name without records", response(7, 0, "a.example", t_txt, {}), "a.example", dns_type::txt,
     "nodata"},
    {"records of another type only",
     response(7, 0, "a.example", t_a, {record(owner, t_aaaa, aaaa("2001:db8::1"))}), "a.example",
     dns_type::a, "nodata"},
    {"CNAME chain",
     response(7, 0, "a.example", t_a,
              {record(owner, t_cname, name("b.example")),
               record(name("b.example"), t_cname, name("c.example")),
               record(name("c.example"), t_a, a("192.0.2.3"))}),
     "a.example", dns_type::a, "found ip[192.0.2.3]"},
    {"record of another class skipped",
     response(7, 0, "a.example", t_a,
              {record(owner, t_a, a("192.0.2.9"), 3), record(owner, t_a, a("192.0.2.1"))}),
     "a.example", dns_type::a, "found ip[192.0.2.1]"},
    {"SERVFAIL", response(7, ns_r_servfail, "a.example", t_a, {}), "a.example", dns_type::a,
     "failed"},
    {"REFUSED", response(7, ns_r_refused, "a.example", t_a, {}), "a.example", dns_type::a,
     "failed"},
    {"FORMERR", response(7, ns_r_formerr, "a.example", t_a, {}), "a.example", dns_type::a,
     "failed"},
    // The question.
    {"name in other case, final dot asked", a_answer, "A.Example.", dns_type::a,
     "found ip[192.0.2.1]"},
    {"an escape in the asked name",
     response(7, 0, "ab.example", t_a, {record(at_question, t_a, a("192.0.2.1"))}),
     "a\\098.example", dns_type::a, "found ip[192.0.2.1]"},
    {"a space in a label",
     response(7, 0, "a b.example", t_a, {record(at_question, t_a, a("192.0.2.1"))}), "a b.example",
     dns_type::a, "found ip[192.0.2.1]"},
    {"another name", a_answer, "b.example", dns_type::a, "failed"},
    {"a longer name", a_answer, "x.a.example", dns_type::a, "failed"},
    {"another type", a_answer, "a.example", dns_type::aaaa, "failed"},
    {"another class", with_byte(a_answer, 12 + 11 + 3, 3), "a.example", dns_type::a, "failed"},
    {"no question", with_byte(response(7, ns_r_nxdomain, "a.example", t_a, {}), 5, 0), "a.example",
     dns_type::a, "failed"},
    {"a query, not a response", with_byte(a_answer, 2, 0x01), "a.example", dns_type::a, "failed"},
    {"truncated (TC)", response(7, truncated_bit, "a.example", t_a, {}), "a.example", dns_type::a,
     "failed"},
    // Malformed.
    {"header only", cut(a_answer, 12), "a.example", dns_type::a, "failed"},
    {"cut inside the record", cut(a_answer, a_answer.size() - 2), "a.example", dns_type::a,
     "failed"},
    {"A record of 5 bytes",
     response(7, 0, "a.example", t_a, {record(owner, t_a, bytes{192, 0, 2, 1, 0})}), "a.example",
     dns_type::a, "failed"},
    {"AAAA record of 4 bytes",
     response(7, 0, "a.example", t_aaaa, {record(owner, t_aaaa, a("192.0.2.1"))}), "a.example",
     dns_type::aaaa, "failed"},
    {"TXT string longer than its record",
     response(7, 0, "a.example", t_txt, {record(owner, t_txt, bytes{5, 'a', 'b'})}), "a.example",
     dns_type::txt, "failed"},
    {"MX name past its record",
     response(7, 0, "a.example", t_mx, {record(owner, t_mx, bytes{0, 10, 3, 'm', 'x'})}),
     "a.example", dns_type::mx, "failed"},
    {"compression pointer looping on itself",
     response(7, 0, "a.example", t_ptr, {record(owner, t_ptr, pointer(12 + 11 + 4 + 12))}),
     "a.example", dns_type::ptr, "failed"},
    // TXT.
    {"TXT of several strings",
     response(7, 0, "a.example", t_txt,
              {record(owner, t_txt, txt({"v=spf1 ", "ip4:192.0.2.0/24", " -all"}))}),
     "a.example", dns_type::txt, "found txt[v=spf1 ip4:192.0.2.0/24 -all]"},
    {"TXT records one entry each",
     response(7, 0, "a.example", t_txt,
              {record(owner, t_txt, txt({"v=spf1 -all"})), record(owner, t_txt, txt({"x", "y"})),
               record(owner, t_txt, txt({""}))}),
     "a.example", dns_type::txt, "found txt[v=spf1 -all] txt[xy] txt[]"},
    {"TXT bytes kept as they are",
     response(7, 0, "a.example", t_txt,
              {record(owner, t_txt, txt({std::string("v=spf1 \x01\xc3\xa9\x7f", 11), "\t"}))}),
     "a.example", dns_type::txt, std::string("found txt[v=spf1 \x01\xc3\xa9\x7f\t]", 23)},
    // MX and PTR.
    {"MX exchanges, one compressed",
     response(7, 0, "a.example", t_mx,
              {record(owner, t_mx, mx(10, name("mx1.a.example"))),
               record(at_question, t_mx, mx(20, concat({bytes{3, 'm', 'x', '2'}, at_question})))}),
     "a.example", dns_type::mx, "found name[mx1.a.example] name[mx2.a.example]"},
    {"MX to the root (no mail)",
     response(7, 0, "a.example", t_mx, {record(owner, t_mx, mx(0, name("")))}), "a.example",
     dns_type::mx, "found name[]"},
    {"PTR",
     response(7, 0, "1.2.0.192.in-addr.arpa", t_ptr,
              {record(at_question, t_ptr, name("Host.Example"))}),
     "1.2.0.192.in-addr.arpa", dns_type::ptr, "found name[Host.Example]"},
};

void PrintTo(const parse_case& c, std::ostream* out) { *out << c.what; }

class parse_answer_cases : public testing::TestWithParam<parse_case> {};

TEST_P(parse_answer_cases, give_the_reply) {
  const parse_case& c = GetParam();
  EXPECT_EQ(describe(parse_answer(c.message, c.name, c.type)), c.want) << c.what;
}

INSTANTIATE_TEST_SUITE_P(answer_parse, parse_answer_cases, testing::ValuesIn(parse_cases));

TEST(answers_query, takes_only_the_same_id_and_question) {
  bytes query = response(7, 0, "a.example", t_a, {});
  query[2] = 0x01;  // a query: QR clear, RD set
  struct match_case {
    const char* what;
    bytes answer;
    bool matches;
  };
  const match_case cases[] = {
      {"the answer", a_answer, true},
      {"name in other case", response(7, 0, "A.EXAMPLE", t_a, {}), true},
      {"another id", response(8, 0, "a.example", t_a, {}), false},
      {"another name", response(7, 0, "b.example", t_a, {}), false},
      {"another type", response(7, 0, "a.example", t_txt, {}), false},
      {"the query itself", query, false},
      {"shorter than a header", cut(a_answer, 11), false},
      {"same id, does not parse", cut(a_answer, a_answer.size() - 2), true},
  };
  for (const auto& c : cases) EXPECT_EQ(answers_query(c.answer, query), c.matches) << c.what;
}

}  // namespace
