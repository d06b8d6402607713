// An X server of a test's own (Xvfb started with -displayfd), so keyboard
// focus and the pointer belong to that test alone.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/engine_runner.h"

// An Xvfb of the test's own, started with -displayfd; gone with the object.
class PrivateDisplay {
 public:
  PrivateDisplay() {
    int fds[2];
    if (access("/usr/bin/Xvfb", X_OK) != 0 || pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      close(fds[0]);
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      std::string fd = std::to_string(fds[1]);
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
            (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    name_ = ":" + number;
  }
  ~PrivateDisplay() {
    if (pid_ > 0) {
      kill(-pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ok() const { return !name_.empty(); }
  const std::string& name() const { return name_; }
  RunResult Run(const std::vector<std::string>& argv) const {
    return RunProcess(argv, "", {{"DISPLAY", name_}}, 10);
  }

 private:
  pid_t pid_ = -1;
  std::string name_;
};
