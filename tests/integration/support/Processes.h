#pragma once
// The process tree as /proc shows it: which processes descend from which, by
// what name, and through which sandbox.

#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace nimbra::test {

struct ProcessInfo {
    pid_t parent = 0;
    std::string name;  // /proc/<pid>/comm: at most 15 characters
};

inline std::map<pid_t, ProcessInfo> processTable() {
    std::map<pid_t, ProcessInfo> table;
    DIR* proc = opendir("/proc");
    if (!proc) return table;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        std::istringstream rest(line.substr(close + 1));
        char state = 0;
        ProcessInfo info;
        rest >> state >> info.parent;
        info.name = line.substr(open + 1, close - open - 1);
        table[pid] = info;
    }
    closedir(proc);
    return table;
}

// The chain of processes from pid up to (not including) root; empty when pid
// does not descend from root.
inline std::vector<pid_t> ancestryBelow(const std::map<pid_t, ProcessInfo>& table, pid_t pid, pid_t root) {
    std::vector<pid_t> chain;
    for (pid_t p = pid; p > 1 && chain.size() < 64;) {
        if (p == root) return chain;
        chain.push_back(p);
        auto it = table.find(p);
        if (it == table.end()) break;
        p = it->second.parent;
    }
    return {};
}

// Descendants of root whose name starts with the prefix.
inline std::vector<pid_t> descendantsNamed(pid_t root, const std::string& prefix) {
    const auto table = processTable();
    std::vector<pid_t> found;
    for (const auto& [pid, info] : table)
        if (info.name.rfind(prefix, 0) == 0 && !ancestryBelow(table, pid, root).empty()) found.push_back(pid);
    return found;
}

// The web engine's page processes under root (the name is cut to 15 characters).
inline std::vector<pid_t> webProcessesOf(pid_t root) { return descendantsNamed(root, "WebKitWebProces"); }

// Whether a process between root and pid is the bubblewrap sandbox.
inline bool runsInsideSandbox(pid_t root, pid_t pid) {
    const auto table = processTable();
    for (pid_t p : ancestryBelow(table, pid, root))
        if (table.at(p).name == "bwrap") return true;
    return false;
}

inline void killAll(const std::vector<pid_t>& pids, int signal = SIGKILL) {
    for (pid_t pid : pids) ::kill(pid, signal);
}

inline bool isRunning(pid_t pid) {
    const auto table = processTable();
    return table.count(pid) > 0;
}

}  // namespace nimbra::test
