// What the server saw, for tests and demos to read back at /status: the
// recent requests in arrival order and a hit counter per endpoint. Memory
// is bounded: at most kMaxEntries requests, each cut to about kEntryBudget
// bytes of recorded text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Text.h"

namespace adserver {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<QueryItem> query;
    std::vector<std::pair<std::string, std::string>> headers;  // only the chosen fields
    unsigned status = 0;
    std::string endpoint;  // the counter it was counted under
};

class RequestLog {
public:
    static constexpr std::size_t kMaxEntries = 1000;
    static constexpr std::size_t kEntryBudget = 16 * 1024;

    // Endpoint counters always present in the report, even at 0.
    static const std::vector<std::string>& endpoints();

    void record(RecordedRequest request);
    void reset();
    std::uint64_t count(const std::string& endpoint) const;
    // The report as JSON text (invalid UTF-8 in what was recorded is replaced).
    std::string statusJSON() const;

private:
    struct Entry {
        std::uint64_t sequence;
        RecordedRequest request;
        bool truncated;
    };
    std::deque<Entry> entries_;
    std::map<std::string, std::uint64_t> counters_;
    std::uint64_t total_ = 0;
};

}  // namespace adserver
