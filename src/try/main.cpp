// teslo-try: plays one message through the running filter (see teslo_try.hpp).
#include <iostream>
#include <string>
#include <vector>

#include "try/teslo_try.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return run_teslo_try(arguments, std::cin, std::cout, std::cerr);
}
