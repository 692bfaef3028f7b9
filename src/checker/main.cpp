// teslo-check: checks teslo's configuration files before a start or reload.
// All the work is in run_teslo_check (core library), so tests drive it too.
#include <iostream>
#include <string>
#include <vector>

#include "checker/teslo_check.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return run_teslo_check(arguments, std::cout, std::cerr);
}
