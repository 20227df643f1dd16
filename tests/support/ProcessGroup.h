#pragma once

// The processes of a process group, read from /proc: what a test checks
// about the browser it started (all gone, nothing secret on a command line).

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace larkspool::check {

struct GroupMember {
    std::filesystem::path Folder; // /proc/PID
    char State = 0;               // 'Z' for a zombie waiting to be reaped
};

inline std::vector<GroupMember> MembersOfGroup(pid_t Group) {
    std::vector<GroupMember> members;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        // After "pid (name) ": state, ppid, pgrp.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        char state = 0;
        long parent = 0, group = 0;
        if (fields >> state >> parent >> group && group == Group)
            members.push_back({entry.path(), state});
    }
    return members;
}

} // namespace larkspool::check
