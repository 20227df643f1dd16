#pragma once

// Starting another program with exactly the descriptors it is meant to have,
// and learning in the parent whether it could be started at all: a failed
// exec (a missing program, say) is an error of the call, not a child that
// silently exits.

#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace larkspool {

struct SpawnRequest {
    // Argv[0] is the program's path; PATH is not searched.
    std::vector<std::string> Argv;
    // "NAME=value" entries added to the child's copy of this process's
    // environment, each replacing a value of the same name.
    std::vector<std::string> ExtraEnvironment;
    // {number in the child, descriptor here}. Descriptors 0 to 2 the list
    // does not name are inherited; nothing else of this process reaches the
    // child. A descriptor here may sit on another one's number in the child.
    std::vector<std::pair<int, int>> Descriptors;
    // A process group of its own (its id is the child's), so that the caller
    // can end the program together with everything it started.
    bool NewProcessGroup = false;
};

// The program was not started; what() says why ("fork: ..." and "pipe: ..."
// for this process's own steps, the system's reason alone for the child's
// exec or descriptor set-up), Error() is the errno.
class SpawnError : public std::runtime_error {
public:
    SpawnError(const std::string& What, int Error) : std::runtime_error(What), FError(Error) {}
    int Error() const noexcept { return FError; }

private:
    int FError;
};

// Starts the program and returns its process id once it runs (the exec has
// succeeded); the caller reaps it. A child whose exec failed is reaped here
// before SpawnError is raised.
pid_t SpawnProcess(const SpawnRequest& Request);

} // namespace larkspool
