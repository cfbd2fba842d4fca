#include "Prompt.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What a signal handler needs to give the terminal its echo back.
int gTerminal = -1;
struct termios gSaved {};

void RestoreAndReraise(int signal) {
  if (gTerminal >= 0) tcsetattr(gTerminal, TCSAFLUSH, &gSaved);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void Write(int fd, const char* text) {
  for (std::size_t left = std::strlen(text); left > 0;) {
    const ssize_t n = ::write(fd, text, left);
    if (n <= 0 && errno != EINTR) return;
    if (n > 0) {
      text += n;
      left -= static_cast<std::size_t>(n);
    }
  }
}

}  // namespace

bool ReadHidden(const char* prompt, std::size_t maxLength, std::string& answer, std::string& error) {
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    error = "Kein Terminal fuer die Eingabe; den Wert bitte als Argument angeben";
    return false;
  }
  struct termios saved {};
  if (tcgetattr(tty, &saved) != 0) {
    ::close(tty);
    error = "Das Terminal laesst sich nicht einstellen";
    return false;
  }
  struct termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  quiet.c_lflag |= ICANON;

  gTerminal = tty;
  gSaved = saved;
  struct sigaction restore {};
  restore.sa_handler = RestoreAndReraise;
  struct sigaction oldInt {}, oldTerm {}, oldHup {}, oldQuit {};
  sigaction(SIGINT, &restore, &oldInt);
  sigaction(SIGTERM, &restore, &oldTerm);
  sigaction(SIGHUP, &restore, &oldHup);
  sigaction(SIGQUIT, &restore, &oldQuit);

  bool ok = tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
  if (!ok) error = "Das Terminal laesst sich nicht einstellen";
  if (ok) Write(tty, prompt);
  answer.clear();
  bool ended = false;
  while (ok && !ended) {
    char c = 0;
    const ssize_t n = ::read(tty, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      error = "Eingabe abgebrochen";
    } else if (c == '\n') {
      ended = true;
    } else if (answer.size() >= maxLength) {
      ok = false;
      error = "Eingabe zu lang";
    } else {
      answer.push_back(c);
    }
  }

  tcsetattr(tty, TCSAFLUSH, &saved);
  Write(tty, "\n");
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);
  sigaction(SIGQUIT, &oldQuit, nullptr);
  gTerminal = -1;
  ::close(tty);
  if (!ok) answer.assign(answer.size(), '\0');
  return ok;
}
