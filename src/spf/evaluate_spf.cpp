// One SPF evaluation with libspf2 (see evaluate_spf.hpp).
#include "spf/evaluate_spf.hpp"

#include <atomic>
#include <memory>

#include <sys/types.h>

#include <netinet/in.h>

#include <arpa/nameser.h>

extern "C" {
#include <spf2/spf.h>
}

#include "common/text.hpp"
#include "spf/spf_result.hpp"
#include "spf/term_budget.hpp"

namespace {

SPF_server_t* make_resolver_server() { return SPF_server_new(SPF_DNS_RESOLV, 0); }

std::atomic<spf_server_maker> server_maker{make_resolver_server};

struct server_deleter {
  void operator()(SPF_server_t* server) const { SPF_server_free(server); }
};
struct request_deleter {
  void operator()(SPF_request_t* request) const { SPF_request_free(request); }
};
struct response_deleter {
  void operator()(SPF_response_t* response) const { SPF_response_free(response); }
};
// Declared in the order server, request, response, so they are freed in
// the reverse order: response, request, server.
using server_handle = std::unique_ptr<SPF_server_t, server_deleter>;
using request_handle = std::unique_ptr<SPF_request_t, request_deleter>;
using response_handle = std::unique_ptr<SPF_response_t, response_deleter>;

// Client address, HELO name and envelope sender of the request. A pure IPv6
// client is given as IPv6 text; an IPv4-mapped client arrives here as IPv4.
void describe_client(SPF_request_t* request, const spf_question& question) {
  if (question.client_is_ipv6 != 0) {
    SPF_request_set_ipv6_str(request, question.client_addr);
  } else {
    SPF_request_set_ipv4_str(request, question.client_addr);
  }
  SPF_request_set_helo_dom(request, question.helo_name);
  SPF_request_set_env_from(request, question.sender_addr);
}

bool is_error_result(int32_t result) {
  return result == spf_code::temperror || result == spf_code::permerror;
}

// The result an error code of the query stands for: a DNS failure or a
// local one (memory, the library itself) may pass, so temperror; anything
// else is a fault of the record, so permerror.
int32_t result_of_error(SPF_errcode_t error) {
  switch (error) {
    case SPF_E_DNS_ERROR:
    case SPF_E_NO_MEMORY:
    case SPF_E_INTERNAL_ERROR:
    case SPF_E_NOT_CONFIG: return spf_code::temperror;
    default: return spf_code::permerror;
  }
}

// An answer with `result`; `problem` is kept for temperror and permerror.
spf_evaluation answer(int32_t result, const char* problem) {
  spf_evaluation outcome;
  outcome.kind = spf_evaluation::answered;
  outcome.result = result;
  if (is_error_result(result) && problem != nullptr) copy_bounded(outcome.problem, problem);
  return outcome;
}

}  // namespace

spf_server_maker set_spf_server_maker(spf_server_maker maker) {
  return server_maker.exchange(maker != nullptr ? maker : make_resolver_server);
}

spf_evaluation evaluate_spf(const spf_question& question) {
  server_handle server(server_maker.load()());
  if (!server) return answer(spf_code::temperror, "the SPF library could not be set up");
  SPF_server_set_rec_dom(server.get(), question.receiver_host);
  // Destroyed before the server, which it gives its own DNS layer back.
  term_budget budget(server.get());

  request_handle request(SPF_request_new(server.get()));
  if (!request) return answer(spf_code::temperror, "the SPF request could not be made");
  describe_client(request.get(), question);

  SPF_response_t* raw_response = nullptr;
  SPF_errcode_t error = SPF_request_query_mailfrom(request.get(), &raw_response);
  response_handle response(raw_response);
  spf_evaluation outcome;
  // A passed limit is the evaluation's result, whatever libspf2 made of the
  // questions it was refused.
  if (budget.exceeded()) {
    SPF_result_t result = response ? SPF_response_result(response.get()) : SPF_RESULT_PERMERROR;
    outcome = answer(budget.settle(result), "more than 10 DNS-querying terms or 2 void lookups");
  } else if (!response) {
    outcome = answer(error == SPF_E_SUCCESS ? spf_code::temperror : result_of_error(error),
                     error == SPF_E_SUCCESS ? "no response" : SPF_strerror(error));
  } else {
    int32_t result = SPF_response_result(response.get());
    // libspf2 gives "no valid SPF record" both for no record at all (with
    // none) and for a record it cannot parse (with invalid).
    bool no_record = error == SPF_E_NOT_SPF && result == SPF_RESULT_NONE;
    if (error != SPF_E_SUCCESS && !no_record && !is_error_result(result)) {
      result = result_of_error(error);
    }
    SPF_errcode_t cause = error != SPF_E_SUCCESS ? error : SPF_response_errcode(response.get());
    outcome = answer(result, cause != SPF_E_SUCCESS ? SPF_strerror(cause) : nullptr);
  }
  outcome.macro_letters = budget.macro_letters();
  return outcome;
}
