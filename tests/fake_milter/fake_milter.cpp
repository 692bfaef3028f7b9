#include "fake_milter/fake_milter.hpp"

#include <arpa/inet.h>
#include <cstring>
#include <string>

struct smfi_str {
  fake_milter::session* owner = nullptr;
  void* priv = nullptr;
};

namespace {

smfiDesc last_registered{};
int register_count = 0;
int stop_count = 0;

fake_milter::session& owner_of(SMFICTX* ctx) { return *ctx->owner; }

std::string text_or_null(const char* text) { return text != nullptr ? text : "(null)"; }

}  // namespace

namespace fake_milter {

const smfiDesc& registered() { return last_registered; }
int register_calls() { return register_count; }
int stop_calls() { return stop_count; }

session::session(const smfiDesc& table) : table_(table), handle_(new smfi_str) {
  handle_->owner = this;
}

session::~session() {
  if (!closed_) close();
  delete handle_;
}

sfsistat session::connect(const char* hostname, const char* address) {
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  if (address == nullptr) return connect(hostname, static_cast<const sockaddr*>(nullptr));
  if (inet_pton(AF_INET, address, &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return connect(hostname, reinterpret_cast<const sockaddr*>(&v4));
  }
  if (inet_pton(AF_INET6, address, &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    return connect(hostname, reinterpret_cast<const sockaddr*>(&v6));
  }
  return connect(hostname, static_cast<const sockaddr*>(nullptr));
}

sfsistat session::connect(const char* hostname, const sockaddr* address) {
  std::string host = hostname != nullptr ? hostname : "";
  return table_.xxfi_connect(handle_, hostname != nullptr ? host.data() : nullptr,
                             const_cast<sockaddr*>(address));
}

sfsistat session::helo(const char* name) {
  std::string copy = name;
  return table_.xxfi_helo(handle_, copy.data());
}

sfsistat session::call_with_arguments(sfsistat (*callback)(SMFICTX*, char**),
                                      std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return callback(handle_, argv.data());
}

sfsistat session::envfrom(std::vector<std::string> arguments) {
  return call_with_arguments(table_.xxfi_envfrom, arguments);
}

sfsistat session::envrcpt(std::vector<std::string> arguments) {
  return call_with_arguments(table_.xxfi_envrcpt, arguments);
}

sfsistat session::header(const char* name, const char* value) {
  std::string name_copy = name;
  std::string value_copy = value;
  return table_.xxfi_header(handle_, name_copy.data(), value_copy.data());
}

sfsistat session::eoh() { return table_.xxfi_eoh(handle_); }

sfsistat session::body(const std::string& chunk) {
  std::vector<unsigned char> bytes(chunk.begin(), chunk.end());
  return table_.xxfi_body(handle_, bytes.data(), bytes.size());
}

sfsistat session::eom() { return table_.xxfi_eom(handle_); }
sfsistat session::abort() { return table_.xxfi_abort(handle_); }

sfsistat session::close() {
  closed_ = true;
  return table_.xxfi_close(handle_);
}

void* session::priv() const { return handle_->priv; }

std::vector<std::string> session::take_changes() {
  std::vector<std::string> taken;
  taken.swap(changes);
  return taken;
}

}  // namespace fake_milter

namespace {

// Records `line` unless the test made `function` fail.
int record(SMFICTX* ctx, const char* function, std::string line) {
  auto& owner = owner_of(ctx);
  if (owner.failing.count(function) != 0) return MI_FAILURE;
  owner.changes.push_back(std::move(line));
  return MI_SUCCESS;
}

}  // namespace

extern "C" {

int smfi_register(struct smfiDesc description) {
  last_registered = description;
  ++register_count;
  return MI_SUCCESS;
}

int smfi_setconn(char*) { return MI_SUCCESS; }
int smfi_opensocket(bool) { return MI_SUCCESS; }
int smfi_main() { return MI_SUCCESS; }

int smfi_stop() {
  ++stop_count;
  return MI_SUCCESS;
}

char* smfi_getsymval(SMFICTX* ctx, char* name) {
  auto& macros = owner_of(ctx).macros;
  auto found = macros.find(name);
  if (found == macros.end()) {
    // libmilter answers both "{x}" and "x" for a one-letter macro.
    // Built by append: GCC 12 at -O3 misreads "{" + string as overlapping.
    std::string other;
    if (std::strlen(name) == 1) other.append("{").append(name).append("}");
    found = other.empty() ? macros.end() : macros.find(other);
  }
  return found == macros.end() ? nullptr : found->second.data();
}

int smfi_setreply(SMFICTX* ctx, char* rcode, char* xcode, char* message) {
  // Like libmilter: a text with a line break, or longer than 980, is refused.
  if (message != nullptr &&
      (std::strpbrk(message, "\r\n") != nullptr || std::strlen(message) > 980)) {
    return MI_FAILURE;
  }
  return record(
      ctx, "smfi_setreply",
      "setreply " + text_or_null(rcode) + " " + text_or_null(xcode) + " " + text_or_null(message));
}

int smfi_addheader(SMFICTX* ctx, char* name, char* value) {
  return record(ctx, "smfi_addheader",
                "addheader " + text_or_null(name) + ": " + text_or_null(value));
}

int smfi_chgheader(SMFICTX* ctx, char* name, int index, char* value) {
  return record(
      ctx, "smfi_chgheader",
      "chgheader " + text_or_null(name) + " " + std::to_string(index) + " " + text_or_null(value));
}

int smfi_insheader(SMFICTX* ctx, int index, char* name, char* value) {
  return record(
      ctx, "smfi_insheader",
      "insheader " + std::to_string(index) + " " + text_or_null(name) + ": " + text_or_null(value));
}

int smfi_addrcpt(SMFICTX* ctx, char* address) {
  return record(ctx, "smfi_addrcpt", "addrcpt " + text_or_null(address));
}

int smfi_delrcpt(SMFICTX* ctx, char* address) {
  return record(ctx, "smfi_delrcpt", "delrcpt " + text_or_null(address));
}

int smfi_quarantine(SMFICTX* ctx, char* reason) {
  return record(ctx, "smfi_quarantine", "quarantine " + text_or_null(reason));
}

int smfi_setpriv(SMFICTX* ctx, void* data) {
  if (owner_of(ctx).failing.count("smfi_setpriv") != 0) return MI_FAILURE;
  ctx->priv = data;
  return MI_SUCCESS;
}

void* smfi_getpriv(SMFICTX* ctx) { return ctx->priv; }

}  // extern "C"
