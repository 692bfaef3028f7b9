// The name servers of a resolver state (see name_servers.hpp).
#include "dns/name_servers.hpp"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

int name_server_count(res_state state) { return std::clamp(state->nscount, 0, MAXNS); }

bool name_server_at(res_state state, int index, name_server& server) {
  if (index < 0 || index >= name_server_count(state)) return false;
  const sockaddr_in& v4 = state->nsaddr_list[index];
  const sockaddr_in6* v6 = state->_u._ext.nsaddrs[index];
  if (v4.sin_family == AF_INET) {
    std::memcpy(&server.address, &v4, sizeof v4);
    server.length = sizeof v4;
    return true;
  }
  if (v4.sin_family == 0 && v6 != nullptr && v6->sin6_family == AF_INET6) {
    std::memcpy(&server.address, v6, sizeof *v6);
    server.length = sizeof *v6;
    return true;
  }
  return false;
}
