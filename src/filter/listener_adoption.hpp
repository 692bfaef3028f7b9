// The hand-over of the inherited listener to libmilter, in the filter
// program only.
//
// libmilter has no call that takes a socket already open: its listener
// opens its own (smfi_opensocket: socket(), SO_REUSEADDR, bind() to the
// path given to smfi_setconn, listen()). The filter program defines bind()
// itself (listener_adoption.cpp, linked into that program only, as
// accept_pause.cpp defines accept()): while a listener waits to be adopted
// and the address is the UNIX path registered here, it puts the listener in
// place of libmilter's new socket (dup3 onto the same number,
// close-on-exec; the inherited descriptor is closed) and returns 0 without
// touching the file system; libmilter's listen() then finds a socket that
// already listens, and its main loop serves on it. Any other bind, and a
// second one for the path, goes to the kernel as the C library's would. So
// the program needs neither to bind nor to own the socket's path, and its
// system-call list allows no listen.
#pragma once

// Registers `listener` for the next bind() to the UNIX path `path` (kept,
// not copied). Before smfi_opensocket, on the main thread.
void adopt_listener_at_bind(int listener, const char* path);

// True once bind() has put the listener in place.
bool listener_adopted();
