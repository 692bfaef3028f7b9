#include "monitor/run_daemon.hpp"

int main(int argc, char** argv) { return run_daemon(argc, argv); }
