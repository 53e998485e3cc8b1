#include <sys/wait.h>

#include <cerrno>
#include <csignal>

#include "run/is_running.h"

namespace lotrix {

bool IsRunning(ProcessId id) {
  // kill() reads 0 and negative ids as process groups.
  if (id <= 0) return false;

  // For our own child a zombie is a process that has ended. WNOWAIT leaves it for the run to
  // reap, so that its exit status is still there to read.
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(id), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
    return info.si_pid == 0;
  }
  // Not our child: it exists if a signal could be addressed to it.
  return kill(id, 0) == 0 || errno == EPERM;
}

}  // namespace lotrix
