#include "monitor/command_line.hpp"

#include <cstring>
#include <unistd.h>

#include "common/paths.hpp"

command_request requested(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (std::strcmp(argument, "--") == 0) break;
    if (std::strcmp(argument, "-u") == 0) {
      ++i;
    } else if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0) {
      return command_request::help;
    } else if (std::strcmp(argument, "--version") == 0) {
      return command_request::version;
    }
  }
  return command_request::run;
}

void print_usage(FILE* out) {
  (void)std::fprintf(out,
                     "usage: teslo [-x] [-u value]\n"
                     "       teslo -h | --help | --version\n"
                     "Starts the teslo mail filter: detaches, adds itself to %s\n"
                     "and %s, restarts a running Sendmail and serves it on\n"
                     "%s until SIGTERM, SIGINT or SIGHUP, then removes itself\n"
                     "again. SIGUSR1 re-reads %s, SIGUSR2\n"
                     "%s. -x and -u are accepted and ignored.\n"
                     "See teslo(8).\n",
                     paths::sendmail_cf, paths::macro_file, paths::filter_socket,
                     paths::copy_rule_file, paths::spam_config_file);
}

void print_version(FILE* out) { (void)std::fprintf(out, "teslo %s\n", names::version); }

void read_command_line(int argc, char** argv) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): start-up, before any other thread
  while (getopt(argc, argv, names::command_options) != -1) {
  }
}
