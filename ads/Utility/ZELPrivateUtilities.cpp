#include "Utility/ZELPrivateUtilities.h"

#include <mutex>
#include <unordered_map>

namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<const void*, std::shared_ptr<ZELPrivateObject>> objects;
};

Table& table() {
    // Never destroyed: private objects may be looked up from other static
    // destructors at exit.
    static Table* t = new Table();
    return *t;
}

}  // namespace

void ZELPrivateUtilities::setPrivateObject(std::shared_ptr<ZELPrivateObject> object, const void* key) {
    if (!key) {
        return;
    }
    if (!object) {
        removePrivateObjectForKey(key);
        return;
    }
    std::shared_ptr<ZELPrivateObject> previous;
    {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        std::shared_ptr<ZELPrivateObject>& slot = t.objects[key];
        previous = std::move(slot);
        slot = std::move(object);
    }
    // The old value is released outside the lock: its destructor may use the table.
}

std::shared_ptr<ZELPrivateObject> ZELPrivateUtilities::privateObjectForKey(const void* key) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(key);
    return it == t.objects.end() ? nullptr : it->second;
}

void ZELPrivateUtilities::removePrivateObjectForKey(const void* key) {
    std::shared_ptr<ZELPrivateObject> removed;
    {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(key);
        if (it == t.objects.end()) {
            return;
        }
        removed = std::move(it->second);
        t.objects.erase(it);
    }
}
