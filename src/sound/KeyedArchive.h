#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <utility>
#include <vector>

namespace orvix::archive {

// The object graph of a keyed archive, as the macOS keyed archiver writes it
// and its unarchiver reads it. Foundation classes are decoded into their own
// kinds (strings, data, numbers, arrays, sets, dictionaries, URLs, NSNull);
// any other class becomes an Object that keeps its class chain and its keyed
// values. A node that several references share is one node, so sharing
// survives a round trip.
struct Node;
using NodePtr = std::shared_ptr<Node>;

struct Field;

struct Node {
    enum class Kind {
        NSNull,
        String,
        Data,
        Integer,
        Real,
        Bool,
        Date,
        Array, // NSArray, NSMutableArray, NSOrderedSet and their mutable forms
        Set,
        Dictionary,
        Url,
        Object,
    };

    Kind kind = Kind::NSNull;
    // The archived class chain, most derived first ("NSMutableArray", "NSArray", "NSObject").
    // Empty for values stored directly in the object table (strings, numbers, data).
    QStringList classes;
    QString string;
    QByteArray data;
    int64_t integer = 0;
    double real = 0;
    bool boolean = false;
    QUrl url;
    std::vector<NodePtr> items;                    // elements; dictionary values
    std::vector<NodePtr> keys;                     // dictionary keys
    std::vector<std::pair<QString, Field>> fields; // Object: keyed values in written order

    QString className() const { return classes.value(0); }
    const Field* field(const QString& key) const;

    static NodePtr makeNull();
    static NodePtr makeString(const QString& s);
    static NodePtr makeData(const QByteArray& d);
    static NodePtr makeArray(std::vector<NodePtr> items, bool mutableClass = false);
    static NodePtr makeUrl(const QUrl& url);
    static NodePtr makeObject(const QStringList& classes);
};

// A keyed value of an Object: either an object reference (nullptr is nil) or
// a value stored inline (encodeInt, encodeBool, encodeDouble).
struct Field {
    bool isReference = true;
    NodePtr value;

    static Field reference(NodePtr node) { return {true, std::move(node)}; }
    static Field integer(int64_t v);
    static Field boolean(bool v);
};

struct DecodeLimits {
    int maxDepth = 48;
};

// Decodes the root object of a keyed archive. Returns nullptr and sets `error`
// on a malformed archive: wrong container, wrong archiver or version, bad UID,
// reference cycle, wrong types, mismatched counts, nesting beyond the limit.
NodePtr decodeArchive(const QByteArray& bytes, QString& error, const DecodeLimits& limits = {});

// Encodes `root` as a keyed archive: "$archiver" "NSKeyedArchiver", "$version"
// 100000, "$top" {"root"}, "$objects" with "$null" first; every node archived
// once, class entries shared. Equal graphs give equal bytes.
QByteArray encodeArchive(const NodePtr& root);

// Structural equality of two graphs (sharing is compared too: a node shared in
// one graph must be shared in the same places in the other).
bool sameGraph(const NodePtr& a, const NodePtr& b, QString* difference = nullptr);

} // namespace orvix::archive
