#include "RequestLog.h"

#include <nlohmann/json.hpp>

namespace adserver {
namespace {

constexpr std::size_t kMaxText = 2048;

// Cuts a text to what is left of the entry's budget; marks the entry when
// anything was lost.
std::string spend(std::string_view text, std::size_t& budget, bool& truncated) {
    const std::size_t limit = std::min({text.size(), kMaxText, budget});
    if (limit < text.size()) truncated = true;
    std::string kept = truncateUtf8(text, limit);
    budget -= kept.size();
    return kept;
}

}  // namespace

const std::vector<std::string>& RequestLog::endpoints() {
    static const std::vector<std::string> names{"script",       "script_304", "ads",     "imp",      "ctrack",
                                                "click",        "hop",        "landing", "landing2", "webapp",
                                                "webapp_event", "loop",       "hostile", "other"};
    return names;
}

void RequestLog::record(RecordedRequest request) {
    ++counters_[request.endpoint];
    ++total_;

    std::size_t budget = kEntryBudget;
    bool truncated = false;
    request.path = spend(request.path, budget, truncated);
    for (auto& [name, value] : request.headers) value = spend(value, budget, truncated);
    std::vector<QueryItem> kept;
    for (auto& item : request.query) {
        if (budget == 0) {
            truncated = true;
            break;
        }
        QueryItem copy{spend(item.key, budget, truncated), std::nullopt};
        if (item.value) copy.value = spend(*item.value, budget, truncated);
        kept.push_back(std::move(copy));
    }
    request.query = std::move(kept);

    entries_.push_back(Entry{total_, std::move(request), truncated});
    while (entries_.size() > kMaxEntries) entries_.pop_front();
}

void RequestLog::reset() {
    entries_.clear();
    counters_.clear();
    total_ = 0;
}

std::uint64_t RequestLog::count(const std::string& endpoint) const {
    const auto it = counters_.find(endpoint);
    return it == counters_.end() ? 0 : it->second;
}

std::string RequestLog::statusJSON() const {
    using nlohmann::json;
    json requests = json::array();
    for (const Entry& entry : entries_) {
        json query = json::object();
        for (const QueryItem& item : entry.request.query) {
            query[item.key] = item.value ? json(*item.value) : json(nullptr);
        }
        json headers = json::object();
        for (const auto& [name, value] : entry.request.headers) headers[name] = value;
        json record = {{"seq", entry.sequence},
                       {"method", entry.request.method},
                       {"path", entry.request.path},
                       {"query", std::move(query)},
                       {"headers", std::move(headers)},
                       {"status", entry.request.status},
                       {"endpoint", entry.request.endpoint}};
        if (entry.truncated) record["truncated"] = true;
        requests.push_back(std::move(record));
    }
    json counters = json::object();
    for (const std::string& name : endpoints()) counters[name] = count(name);
    const json report = {{"requests", std::move(requests)},
                         {"counters", std::move(counters)},
                         {"total", total_},
                         {"kept", entries_.size()}};
    return report.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace adserver
