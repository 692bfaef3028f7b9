// The DNS budget of one SPF evaluation (RFC 7208, 4.6.4): at most 10
// DNS-querying terms and 2 void lookups across the whole evaluation,
// includes and redirects counted.
//
// libspf2 counts terms per record and starts a new count in every include,
// so a tree of includes can make it ask millions of questions. This layer
// sits in front of the server's DNS layer and counts what passes:
// - the first TXT question is the sender's own record and is free; every
//   later TXT question fetches an include or redirect target (or the
//   explanation) and is one term;
// - an MX or PTR question is one term; the A or AAAA questions that follow
//   for the names it returned (at most 10) are part of it;
// - any other A or AAAA question (an "a" or "exists" term) is one term;
// - a counted question answered with no such name or no records is a void
//   lookup.
// Once a limit is passed, every further question is answered "try again"
// without being asked, which ends libspf2's evaluation at once, and the
// evaluation's result becomes permerror. One exception: the explanation
// (exp=) is fetched after the result is settled and is no term; a fail
// whose last question was a refused or void TXT keeps its fail.
//
// The layer also notes the macro letters ("%{l}" gives l) of every SPF
// record it passes: libspf2 does not tell which it expanded, and a result
// that depends on letters beyond the client and the domain must not be
// cached for other messages.
//
// One layer serves one evaluation on one thread.
#pragma once

#include <cstdint>

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/nameser.h>

extern "C" {
#include <spf2/spf.h>
#include <spf2/spf_dns.h>
}

inline constexpr int spf_term_limit = 10;
inline constexpr int spf_void_limit = 2;

class term_budget {
 public:
  // Puts the layer in front of `server`'s DNS layer until destroyed.
  explicit term_budget(SPF_server_t* server);
  ~term_budget();
  term_budget(const term_budget&) = delete;
  term_budget& operator=(const term_budget&) = delete;

  // The result once the budget is applied: permerror when a limit was
  // passed by a term, else `result` unchanged.
  SPF_result_t settle(SPF_result_t result) const;
  bool exceeded() const { return exceeded_; }
  int terms() const { return terms_; }
  int void_lookups() const { return voids_; }
  // macro_bit (spf/check_host.hpp) of each letter in the records seen.
  uint32_t macro_letters() const { return macro_letters_; }

 private:
  static SPF_dns_rr_t* lookup(SPF_dns_server_t* layer, const char* domain, ns_type type,
                              int should_cache);
  SPF_dns_rr_t* ask(const char* domain, ns_type type, int should_cache);

  SPF_server_t* server_;
  SPF_dns_server_t layer_{};
  bool record_seen_ = false;
  int terms_ = 0;
  int voids_ = 0;
  int follow_ups_ = 0;  // A/AAAA questions still part of the last MX or PTR term
  bool exceeded_ = false;
  bool exceeded_on_txt_ = false;
  int asked_after_limit_ = 0;
  uint32_t macro_letters_ = 0;
};
