#include "runtime/host_home.h"

#include <cstdlib>

std::string host_home() {
  const char* root = std::getenv("QUILLON3_ROOT");
  std::string home = root != nullptr && *root != '\0' ? root : HOST_HOME_DEFAULT;
  // "/tmp/home/" and "/tmp/home" name the same home; paths are joined with one '/'.
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}
