#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace orvix::plist {

// Binary property lists ("bplist00"), the container of keyed archives.
//
// We read them ourselves instead of through libplist: Debian's libplist 2.2
// copies every shared reference while loading (a tiny file can expand to
// hundreds of megabytes), indexes loaded arrays in linear time and gives no
// hook to bound either. This reader keeps the flat object table of the file,
// so a shared object stays one object, and it checks what Apple's reader
// checks: exact trailer, sizes that address every object and offset, offsets
// inside the object area, references inside the table, and a decode budget
// proportional to the file length.

enum class Type : uint8_t { Bool, Integer, Real, Date, Data, String, Uid, Array, Dict };

struct Object {
    Type type = Type::Bool;
    bool boolean = false;
    int64_t integer = 0; // Integer; Uid holds its unsigned value here
    double real = 0;     // Real and Date
    QByteArray bytes;    // Data, or String as UTF-8
    // Array: element references. Dict: key references followed by value references.
    std::vector<uint32_t> refs;

    size_t dictCount() const { return refs.size() / 2; }
    // A String's text. A leading U+FEFF is kept: it is content here, not a byte-order mark.
    QString text() const { return utf8ToString(bytes); }
    static QString utf8ToString(const QByteArray& utf8);
};

class Document {
public:
    std::vector<Object> objects;
    uint32_t top = 0;

    const Object& at(uint32_t ref) const { return objects[ref]; }
    // Value reference of `key` in dictionary `dict`, or -1. Keys are compared as UTF-8 strings.
    int64_t dictLookup(const Object& dict, const char* key) const;
};

struct Limits {
    qsizetype maxFileSize = 64 * 1024 * 1024;
    uint64_t maxObjects = 4 * 1024 * 1024;
};

// Parses `data` into `doc`. On failure returns false and sets `error` to a short reason.
bool parse(const QByteArray& data, Document& doc, QString& error, const Limits& limits = {});

// Builds a binary property list. Scalars (strings, integers, booleans, UIDs, reals)
// are stored once however often they are added; containers are kept as added.
// `finish` numbers the objects depth-first from the top, so equal input gives equal bytes.
class Writer {
public:
    uint32_t addBool(bool value);
    uint32_t addInteger(int64_t value);
    uint32_t addReal(double value);
    uint32_t addUid(uint64_t value);
    uint32_t addString(const QString& value);
    uint32_t addData(const QByteArray& value);
    uint32_t addArray(std::vector<uint32_t> elements);
    // Keys and values in the order given.
    uint32_t addDict(const std::vector<std::pair<uint32_t, uint32_t>>& entries);

    QByteArray finish(uint32_t top) const;

private:
    uint32_t add(Object object, const QByteArray& uniqueKey);
    std::vector<Object> _objects;
    std::unordered_map<std::string, uint32_t> _unique;
};

} // namespace orvix::plist
