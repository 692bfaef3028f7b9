// The DNS questions of one message (see dns_questions.hpp).
#include "checks/dns_questions.hpp"

#include <memory>
#include <optional>
#include <syslog.h>

#include "checks/dnsbl_lookup.hpp"
#include "checks/dnsbl_question.hpp"
#include "checks/spf_step.hpp"
#include "common/log_sink.hpp"
#include "connection/verdicts.hpp"
#include "spamconfig/spam_config.hpp"
#include "spf/spf_asker.hpp"

// What one message asked; its record holds it without knowing its insides.
struct message_questions {
  bool sender_usable = false;               // a sender address was derived
  int32_t cached_spf = 0;                   // the cache's result; 0 when it had none
  std::unique_ptr<pending_spf> spf;         // the evaluation asked, until answered
  std::optional<dnsbl_question> blocklist;  // sent when a blocklist domain is set
  bool taken = false;                       // take_dns_answers has used the answers
};

void message_questions_deleter::operator()(message_questions* questions) const { delete questions; }

namespace {

void ask_blocklist(const connection_context& context, message_questions& questions) {
  const spam_config_record& config = settings_of(context);
  char name[dnsbl_query_name_size];
  if (!dnsbl_query_name(context, config.dnsbl_domain, name, sizeof name)) return;
  questions.blocklist.emplace(name);
}

void use_blocklist(connection_context& context, message_questions& questions) {
  if (!questions.blocklist || !questions.blocklist->listed()) return;
  log_line(LOG_NOTICE, "DNSBL: %s, %s, %s", context.client_addr, context.client_name,
           context.mail_from);
  raise_verdict(context, spam_check::dnsbl, settings_of(context).dnsblserv);
}

void use_spf(connection_context& context, message_questions& questions) {
  if (!questions.sender_usable) {
    log_line(LOG_INFO, "sender address unusable, no SPF check: %s, %s, %s", context.client_addr,
             context.client_name, context.mail_from);
    return;
  }
  spf_evaluation outcome;
  if (questions.spf) outcome = questions.spf->answer();
  questions.spf.reset();
  apply_spf(context, settings_of(context), questions.cached_spf, outcome);
}

}  // namespace

void ask_dns_questions(connection_context& context, bool sender_usable) {
  std::unique_ptr<message_questions, message_questions_deleter> questions(new message_questions);
  const spam_config_record& config = settings_of(context);
  questions->sender_usable = sender_usable;
  if (sender_usable) {
    questions->cached_spf = spf_cached_value(context, config);
    if (questions->cached_spf == 0) questions->spf = ask_spf(spf_question_of(context, config));
  }
  if (config.dnsbl_domain != nullptr) ask_blocklist(context, *questions);
  context.message->dns = std::move(questions);
}

void take_dns_answers(connection_context& context) {
  if (context.message == nullptr || !context.message->dns) return;
  message_questions& questions = *context.message->dns;
  if (questions.taken) return;
  questions.taken = true;
  use_blocklist(context, questions);
  use_spf(context, questions);
}
