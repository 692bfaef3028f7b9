// Loading seccomp allow-lists (see syscall_filter.hpp).
#include "sandbox/syscall_filter.hpp"

#include <seccomp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

struct filter_deleter {
  void operator()(void* filter) const { seccomp_release(filter); }
};
using filter_handle = std::unique_ptr<void, filter_deleter>;

// A name this architecture or this libseccomp does not know is skipped: the
// call cannot be made here anyway.
bool add_rule(scmp_filter_ctx filter, const syscall_rule& rule) {
  int number = seccomp_syscall_resolve_name(rule.name);
  if (number == __NR_SCMP_ERROR) return true;
  switch (rule.kind) {
    case syscall_rule::allow: return seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 0) == 0;
    case syscall_rule::refuse:
      return seccomp_rule_add(filter, SCMP_ACT_ERRNO(rule.error), number, 0) == 0;
    case syscall_rule::allow_if_arg:
      return seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 1,
                              SCMP_CMP(rule.arg, SCMP_CMP_EQ, rule.value)) == 0;
    case syscall_rule::allow_if_clear:
      return seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 1,
                              SCMP_CMP(rule.arg, SCMP_CMP_MASKED_EQ, rule.value, 0)) == 0;
    case syscall_rule::allow_if_masked:
      return seccomp_rule_add(filter, SCMP_ACT_ALLOW, number, 1,
                              SCMP_CMP(rule.arg, SCMP_CMP_MASKED_EQ, rule.mask, rule.value)) == 0;
  }
  return false;
}

bool add_self_signals(scmp_filter_ctx filter) {
  auto self = static_cast<scmp_datum_t>(getpid());
  return seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(kill), 1, SCMP_A0(SCMP_CMP_EQ, self)) ==
             0 &&
         seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1,
                          SCMP_A0(SCMP_CMP_EQ, self)) == 0 &&
         seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tkill), 1, SCMP_A0(SCMP_CMP_EQ, self)) ==
             0;
}

}  // namespace

void add_rules(syscall_list& list, std::initializer_list<syscall_rule> rules) {
  list.rules.insert(list.rules.end(), rules.begin(), rules.end());
}

bool load_syscall_filter(const syscall_list& list) {
  filter_handle filter(seccomp_init(SCMP_ACT_KILL_PROCESS));
  if (!filter) return false;
  if (seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) != 0)
    return false;
  if (list.all_threads && seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1) != 0)
    return false;
  for (const syscall_rule& rule : list.rules) {
    if (!add_rule(filter.get(), rule)) return false;
  }
  if (list.signal_self && !add_self_signals(filter.get())) return false;
  int result = seccomp_load(filter.get());
  if (result < 0) errno = -result;
  return result == 0;
}
