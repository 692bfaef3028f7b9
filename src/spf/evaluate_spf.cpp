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

}  // namespace

spf_server_maker set_spf_server_maker(spf_server_maker maker) {
  return server_maker.exchange(maker != nullptr ? maker : make_resolver_server);
}

spf_evaluation evaluate_spf(const spf_question& question) {
  spf_evaluation outcome;
  server_handle server(server_maker.load()());
  if (!server) {
    outcome.kind = spf_evaluation::no_server;
    return outcome;
  }
  SPF_server_set_rec_dom(server.get(), question.receiver_host);
  // Destroyed before the server, which it gives its own DNS layer back.
  term_budget budget(server.get());

  request_handle request(SPF_request_new(server.get()));
  if (!request) return outcome;
  describe_client(request.get(), question);

  SPF_response_t* raw_response = nullptr;
  SPF_errcode_t error = SPF_request_query_mailfrom(request.get(), &raw_response);
  response_handle response(raw_response);
  // A passed limit is the evaluation's result, whatever libspf2 made of the
  // questions it was refused.
  if (budget.exceeded()) {
    SPF_result_t result = response ? SPF_response_result(response.get()) : SPF_RESULT_PERMERROR;
    outcome.kind = spf_evaluation::answered;
    outcome.result = budget.settle(result);
    return outcome;
  }
  if (error != SPF_E_SUCCESS) {
    outcome.kind = spf_evaluation::query_error;
    return outcome;
  }
  if (!response) return outcome;
  outcome.kind = spf_evaluation::answered;
  outcome.result = SPF_response_result(response.get());
  return outcome;
}
