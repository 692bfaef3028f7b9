// A scripted stand-in for a mail filter, for the driver's tests: listens on
// a UNIX socket in a private temporary directory, serves one connection on
// its own thread, answers each command as the test scripted it, and records
// every command it received.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "milterclient/milter_wire.hpp"

class scripted_filter {
 public:
  // Replies per command letter. A letter without an entry is answered with
  // "continue"; an entry with an empty list is not answered at all.
  using script = std::map<char, std::vector<std::pair<char, std::string>>>;

  scripted_filter(std::uint32_t protocol_flags, script replies, bool close_after_body = false);
  ~scripted_filter();
  const std::string& socket_path() const { return socket_path_; }
  // Waits until the connection ended; returns the commands received, each
  // as its letter followed by its printable data ("M<a@b>").
  std::vector<std::string> received();

 private:
  void serve();
  std::string directory_;
  std::string socket_path_;
  int listener_ = -1;
  std::uint32_t protocol_flags_;
  script replies_;
  bool close_after_body_;
  std::vector<std::string> received_;
  std::thread server_;
};
