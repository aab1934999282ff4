#pragma once
// The process-wide table from a public object to the private object that does
// its work. Keys are identities only (never retained nor dereferenced); values
// are retained while they are in the table. An owner removes its entry before
// it goes away, so that a later object at the same address starts clean.

#include <memory>

// Base of every private companion object, so lookups can check the type.
class ZELPrivateObject {
public:
    virtual ~ZELPrivateObject() = default;
};

class ZELPrivateUtilities {
public:
    ZELPrivateUtilities() = delete;

    // Stores or replaces the value for the key (the old value is released);
    // a null value removes the entry. A null key is ignored.
    static void setPrivateObject(std::shared_ptr<ZELPrivateObject> object, const void* key);
    static std::shared_ptr<ZELPrivateObject> privateObjectForKey(const void* key);
    // The value when it is of (or derives from) T, else null.
    template <class T>
    static std::shared_ptr<T> privateObjectForKey(const void* key) {
        return std::dynamic_pointer_cast<T>(privateObjectForKey(key));
    }
    static void removePrivateObjectForKey(const void* key);
};
