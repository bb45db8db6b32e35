#include "sound/KeyedArchive.h"

#include "sound/BinaryPlist.h"

#include <map>
#include <unordered_map>

namespace orvix::archive {

const Field* Node::field(const QString& key) const {
    for (const auto& [k, f] : fields)
        if (k == key)
            return &f;
    return nullptr;
}

NodePtr Node::makeNull() {
    auto n = std::make_shared<Node>();
    n->kind = Kind::NSNull;
    n->classes = {QStringLiteral("NSNull"), QStringLiteral("NSObject")};
    return n;
}

NodePtr Node::makeString(const QString& s) {
    auto n = std::make_shared<Node>();
    n->kind = Kind::String;
    n->string = s;
    return n;
}

NodePtr Node::makeData(const QByteArray& d) {
    auto n = std::make_shared<Node>();
    n->kind = Kind::Data;
    n->data = d;
    return n;
}

NodePtr Node::makeArray(std::vector<NodePtr> items, bool mutableClass) {
    auto n = std::make_shared<Node>();
    n->kind = Kind::Array;
    n->items = std::move(items);
    if (mutableClass)
        n->classes = {QStringLiteral("NSMutableArray"), QStringLiteral("NSArray"),
                      QStringLiteral("NSObject")};
    else
        n->classes = {QStringLiteral("NSArray"), QStringLiteral("NSObject")};
    return n;
}

NodePtr Node::makeUrl(const QUrl& url) {
    auto n = std::make_shared<Node>();
    n->kind = Kind::Url;
    n->url = url;
    n->classes = {QStringLiteral("NSURL"), QStringLiteral("NSObject")};
    return n;
}

NodePtr Node::makeObject(const QStringList& classes) {
    auto n = std::make_shared<Node>();
    n->kind = Kind::Object;
    n->classes = classes;
    return n;
}

Field Field::integer(int64_t v) {
    auto n = std::make_shared<Node>();
    n->kind = Node::Kind::Integer;
    n->integer = v;
    return {false, n};
}

Field Field::boolean(bool v) {
    auto n = std::make_shared<Node>();
    n->kind = Node::Kind::Bool;
    n->boolean = v;
    return {false, n};
}

namespace {

using plist::Type;

enum class Known { None, Array, Set, OrderedSet, Dictionary, Null, String, Data, Url, Date };

Known knownClass(const QString& name) {
    static const std::map<QString, Known> table = {
        {QStringLiteral("NSArray"), Known::Array},
        {QStringLiteral("NSMutableArray"), Known::Array},
        {QStringLiteral("NSSet"), Known::Set},
        {QStringLiteral("NSMutableSet"), Known::Set},
        {QStringLiteral("NSOrderedSet"), Known::OrderedSet},
        {QStringLiteral("NSMutableOrderedSet"), Known::OrderedSet},
        {QStringLiteral("NSDictionary"), Known::Dictionary},
        {QStringLiteral("NSMutableDictionary"), Known::Dictionary},
        {QStringLiteral("NSNull"), Known::Null},
        {QStringLiteral("NSString"), Known::String},
        {QStringLiteral("NSMutableString"), Known::String},
        {QStringLiteral("NSData"), Known::Data},
        {QStringLiteral("NSMutableData"), Known::Data},
        {QStringLiteral("NSURL"), Known::Url},
        {QStringLiteral("NSDate"), Known::Date},
    };
    auto it = table.find(name);
    return it == table.end() ? Known::None : it->second;
}

// The layout of an object follows the first Foundation class in its chain, so
// a subclass archives like its Foundation superclass.
Known firstKnown(const QStringList& classes) {
    for (const QString& c : classes)
        if (Known k = knownClass(c); k != Known::None)
            return k;
    return Known::None;
}

class Decoder {
public:
    Decoder(const plist::Document& doc, QString& error, const DecodeLimits& limits)
        : _doc(doc), _error(error), _limits(limits) {}

    NodePtr run();

private:
    bool fail(const QString& reason) {
        if (_error.isEmpty())
            _error = reason;
        return false;
    }
    const plist::Object& entry(uint64_t uid) const { return _doc.at(_objects->refs[uid]); }
    bool decodeUid(const plist::Object& uidObject, NodePtr& out);
    bool decode(uint64_t uid, NodePtr& out);
    bool decodeDict(const plist::Object& dict, Node& node);
    bool classesOf(const plist::Object& dict, QStringList& out);
    bool uidList(const plist::Object& dict, const char* key, std::vector<NodePtr>& out);
    QString stringOf(const plist::Object& o) const { return o.text(); }

    const plist::Document& _doc;
    QString& _error;
    DecodeLimits _limits;
    const plist::Object* _objects = nullptr;
    std::vector<NodePtr> _cache;
    std::vector<uint8_t> _state; // 0 unvisited, 1 decoding, 2 done
    std::unordered_map<uint64_t, QStringList> _classCache;
    int _depth = 0;
};

NodePtr Decoder::run() {
    const plist::Object& top = _doc.at(_doc.top);
    if (top.type != Type::Dict) {
        fail(QStringLiteral("top level is not a dictionary"));
        return nullptr;
    }
    const int64_t archiver = _doc.dictLookup(top, "$archiver");
    if (archiver < 0 || _doc.at(archiver).type != Type::String ||
        _doc.at(archiver).bytes != "NSKeyedArchiver") {
        fail(QStringLiteral("not a keyed archive"));
        return nullptr;
    }
    const int64_t version = _doc.dictLookup(top, "$version");
    if (version < 0 || _doc.at(version).type != Type::Integer ||
        _doc.at(version).integer != 100000) {
        fail(QStringLiteral("unsupported archive version"));
        return nullptr;
    }
    const int64_t objects = _doc.dictLookup(top, "$objects");
    if (objects < 0 || _doc.at(objects).type != Type::Array || _doc.at(objects).refs.empty()) {
        fail(QStringLiteral("missing object table"));
        return nullptr;
    }
    _objects = &_doc.at(objects);
    const plist::Object& nullEntry = entry(0);
    if (nullEntry.type != Type::String || nullEntry.bytes != "$null") {
        fail(QStringLiteral("object table does not start with $null"));
        return nullptr;
    }
    const int64_t topDict = _doc.dictLookup(top, "$top");
    if (topDict < 0 || _doc.at(topDict).type != Type::Dict) {
        fail(QStringLiteral("missing $top"));
        return nullptr;
    }
    const int64_t root = _doc.dictLookup(_doc.at(topDict), "root");
    if (root < 0) {
        fail(QStringLiteral("missing root object"));
        return nullptr;
    }
    _cache.resize(_objects->refs.size());
    _state.resize(_objects->refs.size());
    NodePtr node;
    if (!decodeUid(_doc.at(root), node))
        return nullptr;
    if (!node)
        fail(QStringLiteral("root object is nil"));
    return node;
}

bool Decoder::decodeUid(const plist::Object& uidObject, NodePtr& out) {
    if (uidObject.type != Type::Uid)
        return fail(QStringLiteral("object reference is not a UID"));
    return decode(static_cast<uint64_t>(uidObject.integer), out);
}

bool Decoder::decode(uint64_t uid, NodePtr& out) {
    if (uid >= _objects->refs.size())
        return fail(QStringLiteral("UID %1 outside the object table").arg(uid));
    if (uid == 0) {
        out = nullptr;
        return true;
    }
    if (_state[uid] == 2) {
        out = _cache[uid];
        return true;
    }
    if (_state[uid] == 1)
        return fail(QStringLiteral("reference cycle at UID %1").arg(uid));
    if (_depth >= _limits.maxDepth)
        return fail(QStringLiteral("objects nested too deeply"));

    _state[uid] = 1;
    ++_depth;
    auto node = std::make_shared<Node>();
    const plist::Object& o = entry(uid);
    bool ok = true;
    switch (o.type) {
    case Type::String:
        node->kind = Node::Kind::String;
        node->string = stringOf(o);
        break;
    case Type::Integer:
        node->kind = Node::Kind::Integer;
        node->integer = o.integer;
        break;
    case Type::Real:
        node->kind = Node::Kind::Real;
        node->real = o.real;
        break;
    case Type::Bool:
        node->kind = Node::Kind::Bool;
        node->boolean = o.boolean;
        break;
    case Type::Data:
        node->kind = Node::Kind::Data;
        node->data = o.bytes;
        break;
    case Type::Date:
        node->kind = Node::Kind::Date;
        node->real = o.real;
        break;
    case Type::Dict:
        ok = decodeDict(o, *node);
        break;
    default:
        ok = fail(QStringLiteral("unexpected value at UID %1").arg(uid));
        break;
    }
    --_depth;
    if (!ok)
        return false;
    _state[uid] = 2;
    _cache[uid] = node;
    out = node;
    return true;
}

bool Decoder::classesOf(const plist::Object& dict, QStringList& out) {
    const int64_t classRef = _doc.dictLookup(dict, "$class");
    if (classRef < 0 || _doc.at(classRef).type != Type::Uid)
        return fail(QStringLiteral("object without $class"));
    const auto uid = static_cast<uint64_t>(_doc.at(classRef).integer);
    if (uid == 0 || uid >= _objects->refs.size())
        return fail(QStringLiteral("bad $class UID"));
    if (auto it = _classCache.find(uid); it != _classCache.end()) {
        out = it->second;
        return true;
    }
    const plist::Object& c = entry(uid);
    const int64_t name = _doc.dictLookup(c, "$classname");
    if (name < 0 || _doc.at(name).type != Type::String || _doc.at(name).bytes.isEmpty())
        return fail(QStringLiteral("class entry without $classname"));
    QStringList chain;
    const int64_t classes = _doc.dictLookup(c, "$classes");
    if (classes >= 0) {
        const plist::Object& list = _doc.at(classes);
        if (list.type != Type::Array)
            return fail(QStringLiteral("$classes is not an array"));
        for (uint32_t ref : list.refs) {
            if (_doc.at(ref).type != Type::String)
                return fail(QStringLiteral("$classes holds a non-string"));
            chain << stringOf(_doc.at(ref));
        }
    }
    const QString className = stringOf(_doc.at(name));
    if (chain.isEmpty() || chain.first() != className)
        chain.prepend(className);
    _classCache.emplace(uid, chain);
    out = chain;
    return true;
}

bool Decoder::uidList(const plist::Object& dict, const char* key, std::vector<NodePtr>& out) {
    const int64_t ref = _doc.dictLookup(dict, key);
    if (ref < 0 || _doc.at(ref).type != Type::Array)
        return fail(QStringLiteral("%1 missing or not an array").arg(QLatin1String(key)));
    const plist::Object& list = _doc.at(ref);
    out.reserve(list.refs.size());
    for (uint32_t element : list.refs) {
        NodePtr child;
        if (!decodeUid(_doc.at(element), child))
            return false;
        if (!child)
            return fail(QStringLiteral("nil inside a collection"));
        out.push_back(std::move(child));
    }
    return true;
}

bool Decoder::decodeDict(const plist::Object& dict, Node& node) {
    const size_t n = dict.dictCount();
    for (size_t i = 0; i < n; ++i)
        if (_doc.at(dict.refs[i]).type != Type::String)
            return fail(QStringLiteral("dictionary key is not a string"));
    if (!classesOf(dict, node.classes))
        return false;

    const Known known = firstKnown(node.classes);

    switch (known) {
    case Known::Array:
        node.kind = Node::Kind::Array;
        return uidList(dict, "NS.objects", node.items);
    case Known::Set:
        node.kind = Node::Kind::Set;
        return uidList(dict, "NS.objects", node.items);
    case Known::OrderedSet: {
        node.kind = Node::Kind::Array;
        // Ordered sets store "NS.object.0", "NS.object.1", ... with no gaps.
        for (size_t index = 0; index < n; ++index) {
            const QByteArray key =
                "NS.object." + QByteArray::number(static_cast<qulonglong>(index));
            const int64_t ref = _doc.dictLookup(dict, key.constData());
            if (ref < 0)
                break;
            NodePtr child;
            if (!decodeUid(_doc.at(ref), child))
                return false;
            if (!child)
                return fail(QStringLiteral("nil inside a collection"));
            node.items.push_back(std::move(child));
        }
        return true;
    }
    case Known::Dictionary:
        node.kind = Node::Kind::Dictionary;
        if (!uidList(dict, "NS.keys", node.keys) || !uidList(dict, "NS.objects", node.items))
            return false;
        if (node.keys.size() != node.items.size())
            return fail(QStringLiteral("dictionary keys and values differ in number"));
        return true;
    case Known::Null:
        node.kind = Node::Kind::NSNull;
        return true;
    case Known::String: {
        const int64_t ref = _doc.dictLookup(dict, "NS.string");
        if (ref < 0 || _doc.at(ref).type != Type::String)
            return fail(QStringLiteral("NS.string missing"));
        node.kind = Node::Kind::String;
        node.string = stringOf(_doc.at(ref));
        return true;
    }
    case Known::Data: {
        const int64_t ref = _doc.dictLookup(dict, "NS.data");
        if (ref < 0 || _doc.at(ref).type != Type::Data)
            return fail(QStringLiteral("NS.data missing"));
        node.kind = Node::Kind::Data;
        node.data = _doc.at(ref).bytes;
        return true;
    }
    case Known::Date: {
        const int64_t ref = _doc.dictLookup(dict, "NS.time");
        if (ref < 0 || _doc.at(ref).type != Type::Real)
            return fail(QStringLiteral("NS.time missing"));
        node.kind = Node::Kind::Date;
        node.real = _doc.at(ref).real;
        return true;
    }
    case Known::Url: {
        const int64_t baseRef = _doc.dictLookup(dict, "NS.base");
        const int64_t relRef = _doc.dictLookup(dict, "NS.relative");
        if (baseRef < 0 || relRef < 0)
            return fail(QStringLiteral("URL without NS.base or NS.relative"));
        NodePtr base, relative;
        if (!decodeUid(_doc.at(baseRef), base) || !decodeUid(_doc.at(relRef), relative))
            return false;
        if (!relative || relative->kind != Node::Kind::String)
            return fail(QStringLiteral("URL relative part is not a string"));
        if (base && base->kind != Node::Kind::Url)
            return fail(QStringLiteral("URL base is not a URL"));
        node.kind = Node::Kind::Url;
        const QUrl rel = QUrl(relative->string, QUrl::StrictMode);
        if (!rel.isValid())
            return fail(QStringLiteral("malformed URL"));
        node.url = base ? base->url.resolved(rel) : rel;
        // Only URLs that survive being written out again, so a theme re-saved
        // by our writer means the same file.
        const QUrl check(QString::fromUtf8(node.url.toEncoded()), QUrl::StrictMode);
        if (!check.isValid() || check != node.url)
            return fail(QStringLiteral("malformed URL"));
        return true;
    }
    case Known::None:
        break;
    }

    node.kind = Node::Kind::Object;
    node.fields.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const plist::Object& key = _doc.at(dict.refs[i]);
        if (key.bytes == "$class")
            continue;
        for (size_t j = 0; j < i; ++j)
            if (_doc.at(dict.refs[j]).bytes == key.bytes)
                return fail(QStringLiteral("duplicate key in an object"));
        const plist::Object& value = _doc.at(dict.refs[n + i]);
        Field field;
        if (value.type == Type::Uid) {
            if (!decodeUid(value, field.value))
                return false;
        } else {
            field.isReference = false;
            auto inlineValue = std::make_shared<Node>();
            switch (value.type) {
            case Type::Integer:
                inlineValue->kind = Node::Kind::Integer;
                inlineValue->integer = value.integer;
                break;
            case Type::Bool:
                inlineValue->kind = Node::Kind::Bool;
                inlineValue->boolean = value.boolean;
                break;
            case Type::Real:
                inlineValue->kind = Node::Kind::Real;
                inlineValue->real = value.real;
                break;
            case Type::Data:
                inlineValue->kind = Node::Kind::Data;
                inlineValue->data = value.bytes;
                break;
            case Type::String:
                inlineValue->kind = Node::Kind::String;
                inlineValue->string = stringOf(value);
                break;
            default:
                return fail(QStringLiteral("unsupported inline value"));
            }
            field.value = std::move(inlineValue);
        }
        node.fields.emplace_back(stringOf(key), std::move(field));
    }
    return true;
}

class Encoder {
public:
    QByteArray run(const NodePtr& root);

private:
    uint64_t encode(const NodePtr& node);
    uint64_t classUid(const QStringList& classes);
    uint64_t newSlot() {
        _slots.push_back(0);
        return _slots.size() - 1;
    }
    uint32_t key(const char* k) { return _w.addString(QString::fromLatin1(k)); }
    uint32_t uidList(const std::vector<NodePtr>& items) {
        std::vector<uint32_t> refs;
        refs.reserve(items.size());
        for (const auto& item : items)
            refs.push_back(_w.addUid(encode(item)));
        return _w.addArray(std::move(refs));
    }
    uint32_t inlineValue(const Node& n) {
        switch (n.kind) {
        case Node::Kind::Integer:
            return _w.addInteger(n.integer);
        case Node::Kind::Bool:
            return _w.addBool(n.boolean);
        case Node::Kind::Real:
            return _w.addReal(n.real);
        case Node::Kind::Data:
            return _w.addData(n.data);
        default:
            return _w.addString(n.string);
        }
    }

    plist::Writer _w;
    std::vector<uint32_t> _slots; // plist reference of each UID
    std::unordered_map<const Node*, uint64_t> _uids;
    std::map<QStringList, uint64_t> _classUids;
};

QByteArray Encoder::run(const NodePtr& root) {
    _slots.push_back(_w.addString(QStringLiteral("$null")));
    const uint64_t rootUid = encode(root);
    const uint32_t top = _w.addDict({{key("root"), _w.addUid(rootUid)}});
    const uint32_t objects = _w.addArray(_slots);
    const uint32_t dict = _w.addDict({
        {key("$archiver"), _w.addString(QStringLiteral("NSKeyedArchiver"))},
        {key("$objects"), objects},
        {key("$top"), top},
        {key("$version"), _w.addInteger(100000)},
    });
    return _w.finish(dict);
}

uint64_t Encoder::classUid(const QStringList& classes) {
    if (auto it = _classUids.find(classes); it != _classUids.end())
        return it->second;
    const uint64_t uid = newSlot();
    std::vector<uint32_t> chain;
    for (const QString& c : classes)
        chain.push_back(_w.addString(c));
    _slots[uid] = _w.addDict({{key("$classes"), _w.addArray(std::move(chain))},
                              {key("$classname"), _w.addString(classes.value(0))}});
    _classUids.emplace(classes, uid);
    return uid;
}

uint64_t Encoder::encode(const NodePtr& node) {
    if (!node)
        return 0;
    if (auto it = _uids.find(node.get()); it != _uids.end())
        return it->second;
    const uint64_t uid = newSlot();
    _uids.emplace(node.get(), uid);
    const Node& n = *node;

    // Plain values live directly in the object table.
    if (n.classes.isEmpty() && n.kind != Node::Kind::Object) {
        switch (n.kind) {
        case Node::Kind::Date: {
            // Dates are always archived as NSDate objects.
            break;
        }
        default:
            _slots[uid] = inlineValue(n);
            return uid;
        }
    }

    std::vector<std::pair<uint32_t, uint32_t>> entries;
    QStringList classes = n.classes;
    auto withDefault = [&](std::initializer_list<const char*> chain) {
        if (classes.isEmpty())
            for (const char* c : chain)
                classes << QString::fromLatin1(c);
    };
    switch (n.kind) {
    case Node::Kind::NSNull:
        withDefault({"NSNull", "NSObject"});
        break;
    case Node::Kind::Array:
        withDefault({"NSArray", "NSObject"});
        if (firstKnown(classes) == Known::OrderedSet) {
            for (size_t i = 0; i < n.items.size(); ++i) {
                const QString k = QStringLiteral("NS.object.%1").arg(i);
                entries.emplace_back(_w.addString(k), _w.addUid(encode(n.items[i])));
            }
        } else {
            entries.emplace_back(key("NS.objects"), uidList(n.items));
        }
        break;
    case Node::Kind::Set:
        withDefault({"NSSet", "NSObject"});
        entries.emplace_back(key("NS.objects"), uidList(n.items));
        break;
    case Node::Kind::Dictionary:
        withDefault({"NSDictionary", "NSObject"});
        entries.emplace_back(key("NS.keys"), uidList(n.keys));
        entries.emplace_back(key("NS.objects"), uidList(n.items));
        break;
    case Node::Kind::String:
        entries.emplace_back(key("NS.string"), _w.addString(n.string));
        break;
    case Node::Kind::Data:
        entries.emplace_back(key("NS.data"), _w.addData(n.data));
        break;
    case Node::Kind::Date:
        withDefault({"NSDate", "NSObject"});
        entries.emplace_back(key("NS.time"), _w.addReal(n.real));
        break;
    case Node::Kind::Url: {
        withDefault({"NSURL", "NSObject"});
        const uint64_t relative = newSlot();
        _slots[relative] = _w.addString(QString::fromUtf8(n.url.toEncoded()));
        entries.emplace_back(key("NS.base"), _w.addUid(0));
        entries.emplace_back(key("NS.relative"), _w.addUid(relative));
        break;
    }
    case Node::Kind::Object:
        withDefault({"NSObject"});
        for (const auto& [k, f] : n.fields) {
            const uint32_t keyRef = _w.addString(k);
            if (f.isReference)
                entries.emplace_back(keyRef, _w.addUid(encode(f.value)));
            else if (f.value)
                entries.emplace_back(keyRef, inlineValue(*f.value));
        }
        break;
    case Node::Kind::Integer:
    case Node::Kind::Real:
    case Node::Kind::Bool:
        // Boxed numbers with a class chain are still stored as plain values.
        _slots[uid] = inlineValue(n);
        return uid;
    }
    entries.emplace_back(key("$class"), _w.addUid(classUid(classes)));
    _slots[uid] = _w.addDict(entries);
    return uid;
}

class GraphComparer {
public:
    bool same(const Node* a, const Node* b, QString& why, int depth = 0);

private:
    std::unordered_map<const Node*, const Node*> _ab, _ba;
};

bool GraphComparer::same(const Node* a, const Node* b, QString& why, int depth) {
    if (!a || !b) {
        if (a != b)
            why = QStringLiteral("nil against an object");
        return a == b;
    }
    if (depth > 256) {
        why = QStringLiteral("graph too deep");
        return false;
    }
    auto ia = _ab.find(a);
    auto ib = _ba.find(b);
    if (ia != _ab.end() || ib != _ba.end()) {
        if (ia != _ab.end() && ib != _ba.end() && ia->second == b && ib->second == a)
            return true;
        why = QStringLiteral("sharing differs");
        return false;
    }
    _ab.emplace(a, b);
    _ba.emplace(b, a);
    if (a->kind != b->kind) {
        why = QStringLiteral("kinds differ (%1 vs %2)").arg(a->className(), b->className());
        return false;
    }
    // NSArray and NSMutableArray hold the same content; the chain beyond the
    // first known class is not compared for Foundation kinds.
    if (a->kind == Node::Kind::Object && a->classes != b->classes) {
        why = QStringLiteral("classes differ: %1 vs %2")
                  .arg(a->classes.join(QLatin1Char(',')), b->classes.join(QLatin1Char(',')));
        return false;
    }
    if (a->string != b->string || a->data != b->data || a->integer != b->integer ||
        a->boolean != b->boolean || a->url != b->url ||
        (a->real != b->real && !(a->real != a->real && b->real != b->real))) {
        why = QStringLiteral("values differ in %1").arg(a->className());
        return false;
    }
    if (a->items.size() != b->items.size() || a->keys.size() != b->keys.size() ||
        a->fields.size() != b->fields.size()) {
        why = QStringLiteral("counts differ in %1").arg(a->className());
        return false;
    }
    for (size_t i = 0; i < a->items.size(); ++i)
        if (!same(a->items[i].get(), b->items[i].get(), why, depth + 1))
            return false;
    for (size_t i = 0; i < a->keys.size(); ++i)
        if (!same(a->keys[i].get(), b->keys[i].get(), why, depth + 1))
            return false;
    for (const auto& [k, fa] : a->fields) {
        const Field* fb = b->field(k);
        if (!fb || fa.isReference != fb->isReference) {
            why = QStringLiteral("field %1 differs").arg(k);
            return false;
        }
        if (!same(fa.value.get(), fb->value.get(), why, depth + 1))
            return false;
    }
    return true;
}

} // namespace

NodePtr decodeArchive(const QByteArray& bytes, QString& error, const DecodeLimits& limits) {
    error.clear();
    plist::Document doc;
    if (!plist::parse(bytes, doc, error))
        return nullptr;
    Decoder decoder(doc, error, limits);
    NodePtr root = decoder.run();
    if (!root && error.isEmpty())
        error = QStringLiteral("malformed archive");
    return root;
}

QByteArray encodeArchive(const NodePtr& root) {
    Encoder encoder;
    return encoder.run(root);
}

bool sameGraph(const NodePtr& a, const NodePtr& b, QString* difference) {
    GraphComparer comparer;
    QString why;
    const bool same = comparer.same(a.get(), b.get(), why);
    if (difference)
        *difference = why;
    return same;
}

} // namespace orvix::archive
