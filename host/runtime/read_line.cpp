#include "runtime/read_line.h"

#include <cerrno>
#include <memory>

#include <unistd.h>

namespace {

void strip_line_end(std::string& line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

int finish(std::string& line, bool strip_eol, bool error) {
  if (error) return -1;
  if (line.empty()) return 0;
  if (strip_eol) strip_line_end(line);
  return 1;
}

}  // namespace

int read_line(const char* path, std::string& line, bool strip_eol) {
  line.clear();
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> fp(std::fopen(path, "re"), &std::fclose);
  if (fp == nullptr) return -1;
  return read_line(fp.get(), line, strip_eol);
}

int read_line(FILE* fp, std::string& line, bool strip_eol) {
  line.clear();
  if (fp == nullptr) {
    errno = EINVAL;
    return -1;
  }
  int c;
  while ((c = std::getc(fp)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return finish(line, strip_eol, c == EOF && std::ferror(fp) != 0);
}

int read_line(int fd, std::string& line, bool strip_eol) {
  line.clear();
  for (;;) {
    char c;
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return finish(line, strip_eol, true);
    if (n == 0) break;
    line.push_back(c);
    if (c == '\n') break;
  }
  return finish(line, strip_eol, false);
}
