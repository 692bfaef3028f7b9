// The client address and host-name lists applied to a connection's client.
//
// Read-only over the connection's settings snapshot and its context; any
// worker thread, no lock.
// The IPv4 address lists never match a pure IPv6 client.
#pragma once

#include "connection/connection_context.hpp"

// The client is on whitelistip or whitelistptr.
bool client_whitelisted(const connection_context& context);

// The client is on blacklistip or blacklistptr.
bool client_blacklisted(const connection_context& context);
