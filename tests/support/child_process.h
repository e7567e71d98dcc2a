#pragma once

// Runs part of a test in a child process, where it may change what binds the
// whole process (its user, its limits) without touching the test program.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace dupfind::test {

// Runs `body` in a child process and returns the text it returned, or a text
// saying how the child failed.
inline std::string InChild(const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "<no pipe>";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    const std::string result = body();
    const ssize_t written = ::write(pipe_fds[1], result.data(), result.size());
    ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, static_cast<std::size_t>(got));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "<child failed> " + result;
}

// Runs `body` in a child process that has given up root, where permission
// bits bind, and returns what it returned; unprivileged, runs it here.
inline std::string AsUnprivileged(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  return InChild([&] {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0) {
      return std::string("<could not give up root>");
    }
    return body();
  });
}

}  // namespace dupfind::test
