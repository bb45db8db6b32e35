#include "render/ThemeDictionary.h"

namespace orvix {

void ThemeDictionary::insert(std::string key, Value value) {
    for (auto& entry : _entries) {
        if (entry.first == key) {
            entry.second = std::move(value);
            return;
        }
    }
    _entries.emplace_back(std::move(key), std::move(value));
}

const ThemeDictionary::Value* ThemeDictionary::find(std::string_view key) const {
    // 28 entries: a linear scan beats hashing, and lookups happen only while a
    // picture is recorded.
    for (const auto& entry : _entries) {
        if (entry.first == key)
            return &entry.second;
    }
    return nullptr;
}

const Gradient* ThemeDictionary::gradient(std::string_view key) const {
    const Value* value = find(key);
    return value ? std::get_if<Gradient>(value) : nullptr;
}

const Shadow* ThemeDictionary::shadow(std::string_view key) const {
    const Value* value = find(key);
    return value ? std::get_if<Shadow>(value) : nullptr;
}

} // namespace orvix
