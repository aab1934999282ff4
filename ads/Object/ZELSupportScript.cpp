#include "Object/ZELSupportScript.h"

#include "Statistics/ZELStatisticsCore.h"
#include "Utility/ZELServerAddresses.h"

namespace {

constexpr char kExpireDateKey[] = "expireDate";
constexpr char kStoreIdentifier[] = "ZELObjectPrivate";

}  // namespace

std::shared_ptr<ZELSupportScript> ZELSupportScript::create(ZELSupportScriptClient& client) {
    return std::shared_ptr<ZELSupportScript>(new ZELSupportScript(client));
}

std::optional<std::string> ZELSupportScript::usable(const ZELCachedFile& file) {
    auto content = file.content();
    if (!content || content->empty()) return std::nullopt;
    return content;
}

std::optional<std::string> ZELSupportScript::storedScript() {
    return usable(ZELCachedFile({}, ZELServerAddresses::supportScriptURL(), ZELCachePurpose::SupportScript));
}

std::optional<std::string> ZELSupportScript::script() const { return file_ ? usable(*file_) : std::nullopt; }

void ZELSupportScript::discard() {
    if (file_) file_->invalidate();
}

void ZELSupportScript::ensure() {
    if (!file_) {
        client_.supportScriptWillFetch();
        file_ = std::make_unique<ZELCachedFile>(weak_from_this(), ZELServerAddresses::supportScriptURL(),
                                                ZELCachePurpose::SupportScript);
        // Still atomic, not flushed: a copy a crash left empty or cut is not
        // used (an empty one is fetched again, one that breaks its page is
        // discarded), so the flushes would buy nothing for their time.
        file_->setFlushesToDisk(false);
    }
    const auto expireDate = ZELStatisticsCore(kStoreIdentifier).dateForKey(kExpireDateKey);
    const auto stored = usable(*file_);
    if (expireDate && stored && *expireDate >= platform::Date::now()) {
        client_.supportScriptIsReady(*stored);
        return;
    }
    // A stored copy that cannot be read is nothing to revalidate: a 304 would
    // keep it for good. Fetch the script whole.
    if (!stored) file_->invalidate();
    client_.supportScriptWillFetch();
    file_->validate();
}

void ZELSupportScript::cachedFileDownloadDidEnd(ZELCachedFile& file) {
    // Fresh for a day from now: the server has just sent or confirmed it.
    // (A failed fetch leaves the date, so the next load asks again.)
    ZELStatisticsCore store(kStoreIdentifier);
    store.setDate(platform::Value(platform::Date::now().addingSeconds(kLifetime)), kExpireDateKey);
    store.synchronize();
    if (auto script = usable(file)) {
        client_.supportScriptIsReady(*script);
    } else {
        client_.supportScriptFetchFailed(std::nullopt, std::nullopt);
    }
}

void ZELSupportScript::cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) {
    // Go on with a stored copy only when it holds a script: an empty or
    // unreadable file would come straight back here.
    client_.supportScriptFetchFailed(usable(file), error);
}

std::optional<platform::Error> ZELSupportScript::cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                               const platform::URL&) {
    client_.supportScriptRedirected(file);
    return std::nullopt;
}
