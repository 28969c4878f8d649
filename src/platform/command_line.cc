#include <string>
#include <utility>
#include <vector>

#include "platform/child_process.h"

// Splitting a command line is the same on every system: the components build
// Windows command lines, and the Linux backend turns them into argv by the
// rules a Windows program's C runtime follows.

namespace quillaro {

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> arguments;
  const size_t size = command_line.size();
  if (size == 0) return arguments;
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };

  // The program name: quotes toggle and vanish, no escapes.
  size_t i = 0;
  std::string program;
  bool in_quotes = false;
  for (; i < size; ++i) {
    const char c = command_line[i];
    if (c == '"') {
      in_quotes = !in_quotes;
    } else if (!in_quotes && is_blank(c)) {
      break;
    } else {
      program.push_back(c);
    }
  }
  arguments.push_back(std::move(program));

  for (;;) {
    while (i < size && is_blank(command_line[i])) ++i;
    if (i >= size) break;
    std::string argument;
    in_quotes = false;
    while (i < size && (in_quotes || !is_blank(command_line[i]))) {
      size_t backslashes = 0;
      while (i < size && command_line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < size && command_line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument.push_back('"');
        } else if (in_quotes && i + 1 < size && command_line[i + 1] == '"') {
          argument.push_back('"');
          ++i;
        } else {
          in_quotes = !in_quotes;
        }
        ++i;
        continue;
      }
      argument.append(backslashes, '\\');
      if (i < size && (in_quotes || !is_blank(command_line[i]))) {
        argument.push_back(command_line[i]);
        ++i;
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace quillaro
