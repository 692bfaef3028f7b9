// What a DNS response message says about one question, read with glibc's
// message parser (ns_initparse, ns_parserr, dn_expand): the one parser of
// DNS answers in teslo, used by the SPF evaluation's resolver source and by
// the blocklist lookup.
//
// parse_answer gives the dns_reply for the asked name and type:
// - the message must be a response to a standard query with exactly one
//   question, class IN, of the asked type and name (names compared without
//   ASCII case; a final dot on the asked name makes no difference), not
//   truncated, and parse whole; anything else is `failed`;
// - RCODE NXDOMAIN is `nxdomain`; any RCODE but NOERROR and NXDOMAIN is
//   `failed`;
// - NOERROR with at least one answer record of the asked type and class IN
//   is `found`, without one `nodata`. Records of other types (the CNAMEs of
//   a chain the server followed) and classes are skipped.
// The records: TXT, one entry per record, its character-strings joined
// without separator, bytes as they are (non-ASCII and control characters
// included); MX, the exchange names; PTR, the names (names in glibc's
// presentation form, without the final dot: special characters escaped as
// dn_expand writes them, the root as ""); A and AAAA, the addresses. A
// record of the asked type whose data does not fit its type (an A record
// that is not 4 bytes, an MX name running past its data) makes the answer
// `failed`.
//
// Plain functions of their arguments; no state, any thread.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "dns/dns_reply.hpp"

dns_reply parse_answer(std::span<const unsigned char> message, const std::string& name,
                       dns_type type);

// Whether `answer` is a response to the query message `query`: the same id
// and, when the answer parses, the same one question (name without ASCII
// case, type, class). A response that does not parse is taken as an answer
// when its id matches: parse_answer then says `failed`. Used to leave stray
// or forged packets aside.
bool answers_query(std::span<const unsigned char> answer, std::span<const unsigned char> query);

// Whether a response has its TC bit set (the answer did not fit in UDP).
bool answer_truncated(std::span<const unsigned char> answer);
