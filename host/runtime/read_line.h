// Reading one line of a text file: the agent reads the machine's product identifier
// from /sys with it, and configuration readers take single-line values from files.
#ifndef HOST_RUNTIME_READ_LINE_H
#define HOST_RUNTIME_READ_LINE_H

#include <cstdio>
#include <string>

// Each form clears `line`, then reads up to and including the next '\n' (or the end of
// the input) into it. With `strip_eol` the trailing "\n" or "\r\n" is removed; nothing
// else is trimmed. Returns 1 when a line was read (possibly without a line end at the
// end of the input), 0 at the end of the input with nothing read, -1 on an error
// (errno set; `line` holds what was read before it).

// The first line of the file at `path`.
int read_line(const char* path, std::string& line, bool strip_eol);

// The next line of `fp`; the stream stays positioned after it.
int read_line(FILE* fp, std::string& line, bool strip_eol);

// The next line of the descriptor `fd`, read byte by byte so that nothing after the line
// is consumed (safe on pipes and shared descriptors; meant for short lines).
int read_line(int fd, std::string& line, bool strip_eol);

#endif  // HOST_RUNTIME_READ_LINE_H
