#include "common/error_text.hpp"

#include <cstring>

const char* error_text(int error) {
  const char* text = strerrordesc_np(error);  // a constant text, no shared buffer
  return text != nullptr ? text : "Unknown error";
}
