// A recording stand-in for libmilter, linked into the unit tests only.
//
// It implements the smfi_* functions with the real mfapi.h prototypes, keeps
// the table given to smfi_register, and lets a test play an SMTP transaction
// through the callbacks. Every change and reply a callback asks for is
// recorded as one line of text:
//   addheader X-Foo: v        chgheader Subject 1 v      addrcpt <a@b>
//   delrcpt <a@b>             quarantine reason          setreply 550 5.7.1 text
#pragma once

#include <libmilter/mfapi.h>

#include <map>
#include <netinet/in.h>
#include <set>
#include <string>
#include <vector>

namespace fake_milter {

// The table last given to smfi_register (the fake's registration accepts it).
const smfiDesc& registered();
// Calls to smfi_register, smfi_setconn, smfi_main and smfi_stop so far.
int register_calls();
int stop_calls();

// One SMTP connection played through a callback table.
class session {
 public:
  explicit session(const smfiDesc& table);
  ~session();  // closes the connection if the test did not
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // Macros that smfi_getsymval answers while the following calls run,
  // e.g. macros["{auth_authen}"] = "alice" or macros["i"] = "4AB12".
  std::map<std::string, std::string> macros;
  // Names of smfi_* functions (e.g. "smfi_addrcpt") that answer MI_FAILURE;
  // a failed call records nothing.
  std::set<std::string> failing;
  // Every recorded change and reply, in order.
  std::vector<std::string> changes;

  sfsistat connect(const char* hostname, const char* address);  // IPv4 or IPv6 text
  sfsistat connect(const char* hostname, const sockaddr* address);
  sfsistat helo(const char* name);
  sfsistat envfrom(std::vector<std::string> arguments);
  sfsistat envrcpt(std::vector<std::string> arguments);
  sfsistat header(const char* name, const char* value);
  sfsistat eoh();
  sfsistat body(const std::string& chunk);
  sfsistat eom();
  sfsistat abort();
  sfsistat close();

  // The private data the callbacks attached with smfi_setpriv.
  void* priv() const;
  // The libmilter handle, for calling a callback directly (benchmarks).
  SMFICTX* handle() const { return handle_; }
  template <class T>
  T* context() const {
    return static_cast<T*>(priv());
  }

  // Changes recorded since the last call of take_changes, which clears them.
  std::vector<std::string> take_changes();

 private:
  sfsistat call_with_arguments(sfsistat (*callback)(SMFICTX*, char**),
                               std::vector<std::string>& arguments);
  smfiDesc table_;  // a copy: callers may pass a temporary
  SMFICTX* handle_;
  bool closed_ = false;
};

}  // namespace fake_milter
