#pragma once
// The process tree as /proc shows it: which processes descend from which, by
// what name (/proc/<pid>/comm, at most 15 characters), and through which sandbox.

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace nimbra::test {

struct ProcessInfo {
    pid_t parent = 0;
    std::string name;
};

inline std::map<pid_t, ProcessInfo> processTable() {
    std::map<pid_t, ProcessInfo> table;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
        std::string line;
        if (pid <= 0 || !std::getline(std::ifstream(entry.path() / "stat"), line)) continue;
        // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        table[pid] = {static_cast<pid_t>(std::atoi(line.c_str() + close + 4)), line.substr(open + 1, close - open - 1)};
    }
    return table;
}

// The chain of processes from pid up to (not including) root; empty when pid
// does not descend from root.
inline std::vector<pid_t> ancestryBelow(const std::map<pid_t, ProcessInfo>& table, pid_t pid, pid_t root) {
    std::vector<pid_t> chain;
    for (pid_t p = pid; p > 1 && chain.size() < 64; chain.push_back(p), p = table.count(p) ? table.at(p).parent : 0)
        if (p == root) return chain;
    return {};
}

// The web engine's page processes under root (the name is cut to 15 characters).
inline std::vector<pid_t> webProcessesOf(pid_t root) {
    const auto table = processTable();
    std::vector<pid_t> found;
    for (const auto& [pid, info] : table)
        if (info.name.starts_with("WebKitWebProces") && !ancestryBelow(table, pid, root).empty()) found.push_back(pid);
    return found;
}

// Whether a process between root and pid is the bubblewrap sandbox.
inline bool runsInsideSandbox(pid_t root, pid_t pid) {
    const auto table = processTable();
    for (pid_t p : ancestryBelow(table, pid, root))
        if (table.at(p).name == "bwrap") return true;
    return false;
}

inline void killAll(const std::vector<pid_t>& pids) {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
}

inline bool isRunning(pid_t pid) { return processTable().count(pid) > 0; }

}  // namespace nimbra::test
