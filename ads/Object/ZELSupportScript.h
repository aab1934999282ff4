#pragma once
// The support script the request page runs, kept as a file and fresh for a
// day from the server's last answer. While fresh, the stored copy is used at
// once; otherwise it is fetched again, a readable stored copy revalidated (a
// 304 costs no body), and a failed fetch still goes on with a usable stored
// copy. The expiry date lives in the defaults store ("expireDate" in the
// "ZELObjectPrivate" store), so it survives restarts.

#include <memory>
#include <optional>
#include <string>

#include "Network/ZELCachedFile.h"

// What the store tells the controller that owns it.
class ZELSupportScriptClient {
public:
    virtual ~ZELSupportScriptClient() = default;
    // A fetch starts (or, at the first use, the stored copy is looked up).
    virtual void supportScriptWillFetch() = 0;
    // A script to build with: the stored copy while fresh, or the one the
    // server sent or confirmed.
    virtual void supportScriptIsReady(const std::string& script) = 0;
    // The fetch failed (with the transport's error, when it was one), or
    // brought nothing usable; the stored copy when it holds a script.
    virtual void supportScriptFetchFailed(const std::optional<std::string>& storedScript,
                                          const std::optional<platform::Error>& error) = 0;
    // A redirect answer of the fetch, whose headers count like the ad's.
    virtual void supportScriptRedirected(const ZELCachedFile& file) = 0;
};

class ZELSupportScript final : public ZELCachedFileDelegate, public std::enable_shared_from_this<ZELSupportScript> {
public:
    static constexpr double kLifetime = 86400.0;

    // Shared: its download holds it as delegate, weakly. The client owns it.
    static std::shared_ptr<ZELSupportScript> create(ZELSupportScriptClient& client);
    ZELSupportScript(const ZELSupportScript&) = delete;
    ZELSupportScript& operator=(const ZELSupportScript&) = delete;

    // Hands the client a script: at once while the stored copy is fresh,
    // otherwise when the fetch ends.
    void ensure();
    // The stored script, once ensure() has run: none when missing, unreadable
    // or empty.
    std::optional<std::string> script() const;
    // Deletes the stored copy (damaged, or a page that ran it never
    // answered): the next ensure() fetches it whole.
    void discard();

    // The stored copy as an earlier run left it, read from the disk only.
    static std::optional<std::string> storedScript();

    void cachedFileDownloadDidEnd(ZELCachedFile& file) override;
    void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) override;
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                 const platform::URL& url) override;

private:
    explicit ZELSupportScript(ZELSupportScriptClient& client) : client_(client) {}
    static std::optional<std::string> usable(const ZELCachedFile& file);

    ZELSupportScriptClient& client_;
    std::unique_ptr<ZELCachedFile> file_;  // made at the first ensure()
};
