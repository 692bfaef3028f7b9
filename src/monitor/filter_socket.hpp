// The listener: the filter socket "/var/run/teslo.sock" that Sendmail
// connects to.
//
// The root monitor opens it at start-up, the same way libmilter's listener
// opens a local socket (a UNIX stream socket, SO_REUSEADDR, bound to the
// path, listening with libmilter's default backlog SOMAXCONN), under the
// file-creation mask 0177 that start-up has set, so it is owner root, mode
// 0600 (socket_access.hpp widens that for "socketgroup"). The monitor keeps
// it for its whole life, close-on-exec, and hands it to every filter
// process at descriptor filter_listener_fd (sandbox/filter_program.hpp);
// a replaced filter process serves on the same socket, with the
// connections waiting in its backlog. Shutdown removes the path.
#pragma once

// The listening socket at `path`, or -1 with errno (a path too long for a
// socket address gives ENAMETOOLONG).
int open_filter_socket(const char* path);
