// Fuzzes the ten callbacks as a whole, through the recording fake libmilter:
// arbitrary call orders (close without connect, MAIL after end of message,
// body before headers, two messages on a connection, a new connection after
// close), arbitrary arguments (empty, huge, bytes of every kind, NUL in body
// chunks), a missing or odd client address, missing or odd macros, failing
// libmilter calls, and every action of the six checks.
//
// The spam-check file, the copy rules, the compiled patterns, the SPF cache
// and the offline DNS seams are set up once per process. Per input only the
// check actions and two switches are set (from the first two bytes); the SPF
// cache is emptied now and then so it does not grow without bound.
//
// libmilter's own guarantees are kept: host names, HELO names and header
// texts are never null, an argument vector always has a first element, and
// one connection's callbacks never overlap.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

#include "checks/spf_cache.hpp"
#include "copyrules/copy_rule_table.hpp"
#include "filter/filter_description.hpp"
#include "fake_milter/fake_milter.hpp"
#include "fuzz_support.hpp"
#include "offline_seams.hpp"
#include "spamconfig/builtin_patterns.hpp"
#include "spamconfig/config_loader.hpp"
#include "spamconfig/spam_settings.hpp"

namespace {

constexpr const char* spam_settings_text =
    "helocheck header\n"
    "whitelistip 192.0.2.1\n"
    "whitelistip 203.0.113.0/28\n"
    "blacklistip 198.51.100.0/24\n"
    "whitelistptr good.test\n"
    "blacklistptr bad.test\n"
    "whitelistfrom vip@\n"
    "whitelistto boss@\n"
    "dnsbldou bl.test\n"
    "tag [SPAM]\n"
    "ttl 1h\n";

const char* const texts[] = {
    "",
    " ",
    "<>",
    "<user@pass.test>",
    "<user@fail.test>",
    "<a@soft.test>",
    "<a@neutral.test>",
    "<x.y@include.test>",
    "<r@redirect.test>",
    "<m-n@macro.test>",
    "<q@bad-record.test>",
    "<postmaster>",
    "user@example.test",
    "<boss@example.test>",
    "<vip@example.test>",
    "<BOSS@Example.Test>",
    "<ab>",
    "< a@b>",
    "<a@b >",
    "<@>",
    "<a@b",
    "a@b>",
    "<<a@b>>",
    "undisclosed-recipients:;",
    "To",
    "Cc",
    "CC",
    "Subject",
    "From",
    "mail.example.test",
    "dsl-192-0-2-7.dyn.example.test",
    "host.bad.test",
    "mx.good.test",
    "[192.0.2.7]",
    "[IPv6:2001:db8::1]",
    "OK",
    "FAIL",
    "300000",
    "99999999999999999999",
    "-1",
    "Q1234",
    "example.test",
    "ALL",
    "filename=\"virus.exe\"",
    "%s%n%s%n",
    "\xff\xfe",
    "localhost",
    "Content-Disposition: attachment; filename=\"x.exe\"\r\n",
    "Content-Type: application/octet-stream; name=\"doc.pif\"\n",
};

const char* const macro_names[] = {"{msg_size}", "{verify}", "{auth_authen}", "i",
                                   "j",          "{i}",      "{j}",           "_"};
// libmilter calls that may fail. smfi_setpriv fails only at a connect (op
// 13): libmilter cannot refuse it later for a live handle, and the fake
// would otherwise leave a freed context attached after close.
const char* const failing_calls[] = {"smfi_addheader",  "smfi_chgheader", "smfi_addrcpt",
                                     "smfi_quarantine", "smfi_setreply",  "smfi_insheader"};

// A text: one of the table, a random one, or a huge repetition.
std::string pick_text(FuzzedDataProvider& input) {
  uint8_t kind = input.ConsumeIntegral<uint8_t>();
  if (kind < 120) return texts[kind % (sizeof texts / sizeof texts[0])];
  if (kind < 240) return input.ConsumeRandomLengthString(300);
  std::string unit = input.ConsumeRandomLengthString(16);
  if (unit.empty()) unit = "a";
  std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1000, 300000);
  std::string huge;
  huge.reserve(length + unit.size());
  while (huge.size() < length) huge += unit;
  return huge;
}

std::vector<std::string> pick_arguments(FuzzedDataProvider& input) {
  std::vector<std::string> arguments{pick_text(input)};
  uint8_t extra = input.ConsumeIntegralInRange<uint8_t>(0, 3);
  for (uint8_t i = 0; i < extra; ++i) arguments.push_back(pick_text(input));
  return arguments;
}

std::string pick_body(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) return pick_text(input);
  return input.ConsumeBytesAsString(input.ConsumeIntegral<uint16_t>());
}

sfsistat connect_client(fake_milter::session& smtp, FuzzedDataProvider& input) {
  std::string host = pick_text(input);
  sockaddr_storage storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  static const char* const known[] = {"192.0.2.7",    "192.0.2.8",   "192.0.2.9", "192.0.2.1",
                                      "198.51.100.9", "203.0.113.5", "127.0.0.1", "0.0.0.0"};
  switch (input.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: return smtp.connect(host.c_str(), static_cast<const sockaddr*>(nullptr));
    case 1:
      v4->sin_family = AF_INET;
      inet_pton(AF_INET, known[input.ConsumeIntegralInRange<int>(0, 7)], &v4->sin_addr);
      break;
    case 2:
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = input.ConsumeIntegral<uint32_t>();
      break;
    case 3: {
      v6->sin6_family = AF_INET6;
      std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(16);
      if (!bytes.empty()) std::memcpy(v6->sin6_addr.s6_addr, bytes.data(), bytes.size());
      break;
    }
    case 4: {
      v6->sin6_family = AF_INET6;  // IPv4-mapped
      v6->sin6_addr.s6_addr[10] = 0xff;
      v6->sin6_addr.s6_addr[11] = 0xff;
      uint32_t address = input.ConsumeIntegral<uint32_t>();
      std::memcpy(&v6->sin6_addr.s6_addr[12], &address, sizeof address);
      break;
    }
    default: reinterpret_cast<sockaddr_un*>(&storage)->sun_family = AF_UNIX; break;
  }
  return smtp.connect(host.c_str(), reinterpret_cast<const sockaddr*>(&storage));
}

// The settings of every connection; set per input.
spam_config_record spam_config{};

void set_per_input_settings(FuzzedDataProvider& input) {
  uint16_t bits = input.ConsumeIntegral<uint16_t>();
  check_action* actions[] = {&spam_config.helocheck,   &spam_config.tocheck,
                             &spam_config.spf,         &spam_config.ddns,
                             &spam_config.disposition, &spam_config.dnsblserv};
  for (check_action* action : actions) {
    *action = static_cast<check_action>(bits & 3);
    bits >>= 2;
  }
  spam_config.refusefail = bits & 1;
  spam_config.tagsubject = (bits >> 1) & 1;
}

// Plays one operation; false when the input is used up.
void play(fake_milter::session& smtp, FuzzedDataProvider& input, bool& connected) {
  switch (input.ConsumeIntegralInRange<int>(0, 14)) {
    case 0:
      if (connected) smtp.close();  // libmilter closes before a new connection
      connect_client(smtp, input);
      connected = true;
      break;
    case 1: smtp.helo(pick_text(input).c_str()); break;
    case 2: smtp.envfrom(pick_arguments(input)); break;
    case 3: smtp.envrcpt(pick_arguments(input)); break;
    case 4: {
      std::string name = pick_text(input);
      smtp.header(name.c_str(), pick_text(input).c_str());
      break;
    }
    case 5: smtp.eoh(); break;
    case 6: smtp.body(pick_body(input)); break;
    case 7: smtp.eom(); break;
    case 8: smtp.abort(); break;
    case 9:
      smtp.close();
      connected = false;
      break;
    case 10: {
      const char* name = macro_names[input.ConsumeIntegralInRange<int>(0, 7)];
      smtp.macros[name] = pick_text(input);
      break;
    }
    case 11: smtp.macros.erase(macro_names[input.ConsumeIntegralInRange<int>(0, 7)]); break;
    case 12: {
      const char* name = failing_calls[input.ConsumeIntegralInRange<int>(0, 5)];
      if (!smtp.failing.insert(name).second) smtp.failing.erase(name);
      break;
    }
    case 13:
      if (connected) smtp.close();
      smtp.failing.insert("smfi_setpriv");
      connect_client(smtp, input);
      smtp.failing.erase("smfi_setpriv");
      connected = true;
      break;
    default:
      // A whole ordinary message, so deep states are reached from short inputs.
      smtp.envfrom({"<user@pass.test>"});
      smtp.envrcpt({"<rcpt@example.test>"});
      smtp.header("Subject", "hello");
      smtp.header("To", "rcpt@example.test");
      smtp.eoh();
      smtp.body("Content-Disposition: attachment; filename=\"a.exe\"\r\n");
      smtp.eom();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_logs();
  compile_builtin_patterns();
  std::string path = fuzz::work_path("orvane.conf");
  fuzz::write_file(path, spam_settings_text);
  spam_config_load loaded = load_spam_config(path.c_str());
  if (!loaded.file_read) std::abort();
  spam_config = *loaded.settings;           // takes over what the record owns
  *loaded.settings = spam_config_record{};  // so that its release frees nothing
  // Every connection sees this one record, which each input edits in place.
  using snapshot = std::shared_ptr<const spam_config_record>;
  publish_spam_settings(snapshot(snapshot(), &spam_config));
  if (!spf_cache_init(default_spf_cache_size)) std::abort();
  fuzz::install_offline_seams();

  copy_rule_table rules;
  add_copy_rule(rules, "example.test", "S", "<copy-sender@archive.test>");
  add_copy_rule(rules, "example.test", "R", "<copy-rcpt@archive.test>");
  add_copy_rule(rules, "pass.test", "SR", "<both@archive.test>");
  add_copy_rule(rules, "pass.test", "SA", "<all@archive.test>");
  add_copy_rule(rules, "ALL", "R", "<everything@archive.test>");
  add_copy_rule(rules, "odd.test", "X", "<never@archive.test>");
  add_copy_rule(rules, "long.test", "R", "<" + std::string(600, 'l') + "@archive.test>");
  publish_copy_rules(std::move(rules));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static unsigned runs = 0;
  if (++runs % 4096 == 0) {
    spf_cache_free();
    if (!spf_cache_init(default_spf_cache_size)) std::abort();
  }
  FuzzedDataProvider input(data, size);
  set_per_input_settings(input);
  spam_config.ttl = input.ConsumeBool() ? 3600 : 0;

  fake_milter::session smtp(filter_description);
  bool connected = false;
  for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
    play(smtp, input, connected);
  }
  smtp.close();  // also when never connected: close without connect is legal
  return 0;
}
