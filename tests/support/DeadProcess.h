#pragma once

// The id of a process that has just ended: what a killed run's leftovers
// name as their owner.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace larkspool::check {

inline pid_t DeadPid() {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace larkspool::check
