// The blocklist resolver of the test programs (checks/dnsbl_resolver.hpp),
// linked in place of the daemon's system resolver: it asks no name server;
// a test installs the resolver that answers its names. It keeps no
// resolver state, so no question is sent ahead.
#pragma once

struct addrinfo;

// A resolver: `resolve` answers a name as getaddrinfo would (0 with the
// addresses, else an EAI_* status); `release` frees what it gave.
struct dnsbl_resolver {
  int (*resolve)(const char* name, addrinfo** answers);
  void (*release)(addrinfo* answers);
};

// Replaces the resolver and returns the old one; a null `resolve` installs
// the one that finds no name (EAI_NONAME). A replaced resolver is kept until
// the program ends, since an abandoned lookup may still be using it.
// Callable from any thread.
dnsbl_resolver set_dnsbl_resolver(dnsbl_resolver resolver);
