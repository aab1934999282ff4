#pragma once
// The component's own folder in the application's caches directory:
//
//   <caches>/nimbra/script/<sha256 of the URL>   the support script
//   <caches>/nimbra/markup/<sha256 of the URL>   the markup of the ads shown now
//
// Each purpose has a folder of its own and a file is named by the SHA-256 of
// its source URL's whole text, so no URL, whoever chooses it, can take the
// name of another purpose's file. Trackers store nothing. Folders are made
// 0700 and files 0600; the whole stays under one size limit, oldest first.
// Main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Http.h"
#include "platform/URL.h"

enum class ZELCachePurpose { SupportScript, AdMarkup, Tracker };

// The support script and the markup of three banners at their largest
// (kZELSupportScriptMaximumSize, kZELAdMarkupMaximumSize) fit with room over.
inline constexpr uint64_t kZELCacheSizeLimit = uint64_t{16} << 20;

class ZELCacheFolder {
public:
    // <caches>/nimbra; none without a caches directory.
    static std::optional<std::string> root();
    // The file for the URL; none for trackers and without a caches directory.
    static std::optional<std::string> pathFor(ZELCachePurpose purpose, const platform::URL& url);
    // 64 lower-case hex digits: SHA-256 of the URL's text, scheme, host, port,
    // path and query all in it.
    static std::string fileName(const platform::URL& url);

    // Makes the purpose's folder and whatever is missing above it, new folders
    // 0700.
    static std::optional<platform::Error> makeFolder(ZELCachePurpose purpose);

    // Once at the start of a process: the folders made private again, every
    // file in them not named by the rule (the leftovers of writes a crash
    // interrupted) removed, the folders of the old layout removed, then the
    // limit applied.
    static void prepare();
    // Removes the files that went in first until the whole is within the
    // limit, never `keep` (the file just stored). A file's age is the time it
    // was stored (its change time; its modification time is the server's
    // Last-Modified).
    static void trim(const std::string& keep = {}, uint64_t limit = kZELCacheSizeLimit);
};
