// Access to the filter socket for an MTA that runs as another user.
//
// The monitor creates the socket (filter_socket.hpp) under the daemon's
// file-creation mask 0177: owner root, mode 0600, which is all Sendmail
// (running as root) needs.
// Postfix's smtpd runs as the user postfix and is refused with "Permission
// denied"; with the orvane.conf key "socketgroup" the daemon hands the socket
// to that group, readable and writable by it (0660), at every start.
//
// Main thread, at start-up, after the socket exists and before the daemon
// reports itself ready. Log lines (LOG_ERR): "socketgroup %s: no such group,
// the socket stays 0600 root"; "socketgroup %s: %s %s failed: %s" when chown
// or chmod fails.
#pragma once

// Gives `socket_path` the group named `group` and mode 0660. A null or
// empty group changes nothing. True when the socket has that group and mode,
// or when no group is asked for; false (logged) otherwise, with the socket
// left at mode 0600.
bool share_socket_with_group(const char* socket_path, const char* group);
