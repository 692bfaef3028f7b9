// The name servers of a resolver state, as glibc's own sending code finds
// them: an IPv4 server in nsaddr_list, an IPv6 one in the state's extension
// (res_ninit puts it there and leaves nsaddr_list's family 0).
#pragma once

#include <resolv.h>
#include <sys/socket.h>

struct name_server {
  sockaddr_storage address{};
  socklen_t length = 0;
};

// How many servers the state names (at most MAXNS).
int name_server_count(res_state state);

// The address of server `index`; false when that slot holds none.
bool name_server_at(res_state state, int index, name_server& server);
