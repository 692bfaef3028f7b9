// teslo, the root daemon: installed as /usr/sbin/teslo; the process the
// launcher leaves running, whose pid is in "/var/run/teslo.pid".
//
// Its life, in order:
// 1. "-h", "--help" or "--version": the text on standard output, exit 0,
//    nothing started (command_line.hpp).
// 2. Start-up (run_daemon.hpp): reload signal, log, command line, file
//    limit, the filter program's path (program_path.hpp, found as root
//    beside this executable, else in /usr/libexec/teslo), detaching, pid
//    file, its own keys of orvane.conf, Sendmail's configuration, the
//    Sendmail restart process.
// 3. Serve: the filter socket opened (filter_socket.hpp) and shared with
//    "socketgroup", the account chosen, then the monitor (monitor.hpp),
//    which starts the filter program `teslo-filter` as that account and
//    replaces it when it dies, answers its channel and passes the stop
//    signals on, until the filter process exits.
// 4. Shut-down: Sendmail's configuration restored, socket and pid file
//    removed, the filter process's exit status returned.
//
// Descriptors: none inherited; standard input, output and error go to the
// null device when it detaches. This program does not link libmilter: the
// socket is opened with libmilter's own steps, and the registration is the
// filter program's.
#include "monitor/command_line.hpp"
#include "monitor/run_daemon.hpp"

int main(int argc, char** argv) {
  switch (requested(argc, argv)) {
    case command_request::help: print_usage(stdout); return 0;
    case command_request::version: print_version(stdout); return 0;
    case command_request::run: break;
  }
  daemon_run run;
  if (std::optional<int> early_exit = start_up(argc, argv, run)) return *early_exit;
  return shut_down(serve(run), run);
}
