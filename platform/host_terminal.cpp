// Terminal services for the command-line tool: whether a standard stream is a terminal, its width,
// and reading a prompted line (echo off for passwords). The engine never calls these.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/host.h"

namespace host {

bool IsTerminal(int standardStream) {
  return standardStream >= 0 && standardStream <= 2 && ::isatty(standardStream) == 1;
}

int TerminalWidth(int standardStream) {
  if (!IsTerminal(standardStream)) return 0;
  winsize size{};
  if (::ioctl(standardStream, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

namespace {

// Reads bytes up to a line feed from a descriptor; false when nothing came before the end.
bool ReadLineFrom(int fd, std::string& line) {
  line.clear();
  bool any = false;
  char c = 0;
  for (;;) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return any;
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

}  // namespace

bool ReadTerminalLine(const std::string& prompt, std::string& line, bool secret) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (!IsTerminal(0)) {
    WriteAll(2, prompt);
    return ReadLineFrom(0, line);
  }
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  const int fd = tty >= 0 ? tty : 0;
  WriteAll(tty >= 0 ? tty : 2, prompt);
  termios saved{};
  const bool quiet = secret && ::tcgetattr(fd, &saved) == 0;
  if (quiet) {
    termios noEcho = saved;
    noEcho.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &noEcho);
  }
  const bool ok = ReadLineFrom(fd, line);
  if (quiet) {
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    WriteAll(tty >= 0 ? tty : 2, "\n");
  }
  if (tty >= 0) ::close(tty);
  return ok;
}

}  // namespace host
