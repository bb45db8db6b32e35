#include "sound/KeyedArchive.h"

#include "ToolRun.h"
#include "sound/BinaryPlist.h"

#include <QDir>
#include <QtEndian>
#include <functional>
#include <gtest/gtest.h>
#include <plist/plist.h>

using namespace orvix;
using archive::Field;
using archive::Node;
using archive::NodePtr;
using Kind = archive::Node::Kind;

namespace {

QByteArray readTestData(const char* name) {
    const QByteArray bytes = test::readFile(
        QStringLiteral(ORVIX_TEST_SOURCE_DIR "/../shared/testdata/keyed-archives/") + name);
    // The shared test vectors sit next to the checkout.
    return bytes.isEmpty()
               ? test::readFile(QStringLiteral("/work/shared/testdata/keyed-archives/") + name)
               : bytes;
}

NodePtr decodeOk(const QByteArray& bytes) {
    QString error;
    NodePtr root = archive::decodeArchive(bytes, error);
    EXPECT_TRUE(root) << error.toStdString();
    return root;
}

QString decodeError(const QByteArray& bytes) {
    QString error;
    NodePtr root = archive::decodeArchive(bytes, error);
    EXPECT_FALSE(root);
    EXPECT_FALSE(error.isEmpty());
    return error;
}

const NodePtr& dictValue(const NodePtr& dict, const QString& key) {
    static const NodePtr none;
    for (size_t i = 0; i < dict->keys.size(); ++i)
        if (dict->keys[i]->string == key)
            return dict->items[i];
    ADD_FAILURE() << "no key " << key.toStdString();
    return none;
}

// A round trip through our writer changes nothing; writing twice gives the same bytes.
void expectRoundTrip(const NodePtr& original, const std::string& name) {
    const QByteArray written = archive::encodeArchive(original);
    QString error, why;
    NodePtr reread = archive::decodeArchive(written, error);
    ASSERT_TRUE(reread) << name << ": " << error.toStdString();
    EXPECT_TRUE(archive::sameGraph(original, reread, &why)) << name << ": " << why.toStdString();
    EXPECT_EQ(written, archive::encodeArchive(reread)) << name;
}

// A keyed archive built at the property-list level: what our encoder never writes.
struct RawArchive {
    plist::Writer w;
    std::vector<uint32_t> objects;

    RawArchive() { objects.push_back(w.addString(QStringLiteral("$null"))); }
    uint32_t key(const char* k) { return w.addString(QString::fromLatin1(k)); }
    uint32_t uid(uint64_t u) { return w.addUid(u); }
    uint64_t add(uint32_t ref) {
        objects.push_back(ref);
        return objects.size() - 1;
    }
    uint64_t addClass(const QStringList& chain) {
        std::vector<uint32_t> names;
        for (const auto& c : chain)
            names.push_back(w.addString(c));
        return add(w.addDict({{key("$classname"), w.addString(chain.first())},
                              {key("$classes"), w.addArray(names)}}));
    }
    QByteArray finish(uint32_t rootRef, int64_t version = 100000) {
        const uint32_t top = w.addDict({{key("root"), rootRef}});
        const uint32_t dict = w.addDict({{key("$archiver"), w.addString("NSKeyedArchiver")},
                                         {key("$objects"), w.addArray(objects)},
                                         {key("$top"), top},
                                         {key("$version"), w.addInteger(version)}});
        return w.finish(dict);
    }
};

} // namespace

// Archives written by macOS's own keyed archiver decode to the graphs they hold.
TEST(KeyedArchiveMacOS, ComplexDictionaryWithSharedStringUrlAndNull) {
    const QByteArray bytes = readTestData("NSKeyedUnarchiver-ComplexTest.plist");
    ASSERT_FALSE(bytes.isEmpty());
    NodePtr root = decodeOk(bytes);
    ASSERT_TRUE(root);
    ASSERT_EQ(root->kind, Kind::Dictionary);
    ASSERT_EQ(root->keys.size(), 4u);

    const NodePtr& array = dictValue(root, "array");
    ASSERT_EQ(array->kind, Kind::Array);
    ASSERT_EQ(array->items.size(), 4u);
    EXPECT_EQ(array->items[0]->kind, Kind::NSNull);
    EXPECT_EQ(array->items[1]->string, "hello");
    EXPECT_EQ(array->items[2]->kind, Kind::Integer);
    EXPECT_EQ(array->items[2]->integer, 34545);
    ASSERT_EQ(array->items[3]->kind, Kind::Dictionary);
    EXPECT_EQ(dictValue(array->items[3], "key")->string, "val");

    // The string is archived once and referenced twice: one node.
    EXPECT_EQ(dictValue(root, "string").get(), array->items[1].get());

    const NodePtr& url = dictValue(root, "url");
    ASSERT_EQ(url->kind, Kind::Url);
    EXPECT_EQ(url->url.toString(), "https://www.swift.org/index.xml");

    const NodePtr& uuid = dictValue(root, "uuid");
    ASSERT_EQ(uuid->kind, Kind::Object);
    EXPECT_EQ(uuid->className(), "NSUUID");
    const Field* bytesField = uuid->field("NS.uuidbytes");
    ASSERT_TRUE(bytesField);
    EXPECT_FALSE(bytesField->isReference);
    EXPECT_EQ(bytesField->value->data.size(), 16);
}

TEST(KeyedArchiveMacOS, SetsAndOrderedSetsWithMutableClassChains) {
    NodePtr set = decodeOk(readTestData("NSMutableSet-Numbers.archive"));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->kind, Kind::Set);
    EXPECT_EQ(set->classes, QStringList({"NSMutableSet", "NSSet", "NSObject"}));
    std::vector<int64_t> values;
    for (const auto& item : set->items)
        values.push_back(item->integer);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<int64_t>{1, 2, 3, 4, 5}));

    for (const char* name :
         {"NSOrderedSet-Numbers.archive", "NSMutableOrderedSet-Numbers.archive"}) {
        NodePtr ordered = decodeOk(readTestData(name));
        ASSERT_TRUE(ordered) << name;
        ASSERT_EQ(ordered->kind, Kind::Array);
        ASSERT_EQ(ordered->items.size(), 5u);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(ordered->items[i]->integer, i + 1);
    }
}

TEST(KeyedArchiveMacOS, AttributedStringKeepsSharedValues) {
    NodePtr root = decodeOk(readTestData("NSAttributedString.archive"));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->className(), "NSAttributedString");
    EXPECT_EQ(root->field("NSString")->value->string, "0123456789");
    const NodePtr& attributes = root->field("NSAttributes")->value;
    ASSERT_EQ(attributes->kind, Kind::Array);
    EXPECT_EQ(attributes->className(), "NSMutableArray");
    ASSERT_EQ(attributes->items.size(), 4u);
    EXPECT_TRUE(attributes->items[0]->keys.empty());
    EXPECT_EQ(dictValue(attributes->items[1], "Font")->string, "Helvetica");
    EXPECT_EQ(dictValue(attributes->items[1], "Size")->integer, 123);
    // Two dictionaries share their value objects.
    EXPECT_EQ(dictValue(attributes->items[2], "Font").get(),
              dictValue(attributes->items[3], "Font").get());
    EXPECT_EQ(root->field("NSAttributeInfo")->value->kind, Kind::Data);
}

TEST(KeyedArchiveRoundTrip, OutputHasTheKeyedArchiverLayoutForAnIndependentReader) {
    auto root = Node::makeObject({"Thing", "NSObject"});
    auto shared = Node::makeString(QStringLiteral("shared é"));
    auto null = Node::makeNull();
    root->fields.emplace_back("version", Field::integer(1));
    root->fields.emplace_back(
        "list", Field::reference(Node::makeArray({shared, null, shared, null}, true)));
    root->fields.emplace_back("flag", Field::boolean(true));
    root->fields.emplace_back("url",
                              Field::reference(Node::makeUrl(QUrl::fromLocalFile("/tmp/a b.wav"))));
    const QByteArray bytes = archive::encodeArchive(root);

    plist_t top = nullptr;
    plist_from_bin(bytes.constData(), static_cast<uint32_t>(bytes.size()), &top);
    ASSERT_TRUE(top);
    const auto str = [](plist_t node) {
        const char* s = plist_get_string_ptr(node, nullptr);
        return std::string(s ? s : "");
    };
    const auto uid = [](plist_t node) {
        uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return u;
    };
    EXPECT_EQ(str(plist_dict_get_item(top, "$archiver")), "NSKeyedArchiver");
    uint64_t version = 0;
    plist_get_uint_val(plist_dict_get_item(top, "$version"), &version);
    EXPECT_EQ(version, 100000u);
    plist_t objects = plist_dict_get_item(top, "$objects");
    EXPECT_EQ(str(plist_array_get_item(objects, 0)), "$null");
    EXPECT_EQ(uid(plist_dict_get_item(plist_dict_get_item(top, "$top"), "root")), 1u);
    // The list refers to the shared string and NSNull once each.
    const uint64_t list = uid(plist_dict_get_item(plist_array_get_item(objects, 1), "list"));
    plist_t refs = plist_dict_get_item(plist_array_get_item(objects, static_cast<uint32_t>(list)),
                                       "NS.objects");
    ASSERT_EQ(plist_array_get_size(refs), 4u);
    EXPECT_EQ(uid(plist_array_get_item(refs, 0)), uid(plist_array_get_item(refs, 2)));
    EXPECT_EQ(uid(plist_array_get_item(refs, 1)), uid(plist_array_get_item(refs, 3)));
    plist_free(top);

    NodePtr back = decodeOk(bytes);
    QString why;
    EXPECT_TRUE(archive::sameGraph(root, back, &why)) << why.toStdString();
    EXPECT_EQ(back->field("url")->value->url.toLocalFile(), "/tmp/a b.wav");
}

// Malformed input: one error, no crash, no unbounded work.
TEST(KeyedArchiveMalformed, ContainerLevelFaults) {
    const QByteArray good =
        archive::encodeArchive(Node::makeArray({Node::makeString("a"), Node::makeNull()}));
    ASSERT_TRUE(decodeOk(good));
    const qsizetype n = good.size();
    const int offsetSize = good[n - 26];
    ASSERT_EQ(offsetSize, 1) << "the offset row below assumes one-byte offsets";
    const auto tableOffset = static_cast<uchar>(good[n - 1]);
    struct Case {
        const char* what;
        std::function<void(QByteArray&)> change;
        const char* error; // empty: any error
    };
    const std::vector<Case> cases = {
        {"not a plist", [](QByteArray& b) { b = "hello world, this is not a plist at all...."; },
         "not a binary property list"},
        {"magic only", [](QByteArray& b) { b = "bplist00"; }, "file too short"},
        {"one byte more than the trailer describes", [](QByteArray& b) { b.insert(8, '\0'); },
         "file length does not match the trailer"},
        {"reference size too small to address every object", [n](QByteArray& b) { b[n - 25] = 0; },
         ""},
        {"top object outside the table", [n](QByteArray& b) { b[n - 9] = 0x7F; },
         "top object outside the object table"},
        {"object offset pointing into the offset table",
         [&](QByteArray& b) { b[tableOffset] = static_cast<char>(tableOffset); },
         "object offset outside the object area"},
    };
    for (const Case& c : cases) {
        QByteArray bytes = good;
        c.change(bytes);
        const QString error = decodeError(bytes);
        EXPECT_TRUE(!*c.error || error == QLatin1String(c.error))
            << c.what << ": " << qPrintable(error);
    }
}

TEST(KeyedArchiveMalformed, SharedBytesCannotExpandTheDecodedSize) {
    // 2000 offsets all pointing at one array of 2000 references: a few kilobytes
    // that a copying reader would expand to millions of elements.
    const quint64 n = 2000;
    const auto be = [](quint64 v, int size) {
        QByteArray b(8, '\0');
        qToBigEndian(v, b.data());
        return b.right(size);
    };
    QByteArray bytes = "bplist00\xAF\x11" + be(n, 2) + QByteArray(2 * n, '\0');
    const quint64 tableOffset = quint64(bytes.size());
    bytes += be(8, 2).repeated(n);
    // Trailer: offset and reference sizes, object count, top object, table offset.
    bytes += QByteArray(6, '\0') + be(2, 1) + be(2, 1) + be(n, 8) + be(0, 8) + be(tableOffset, 8);
    plist::Document doc;
    QString error;
    EXPECT_FALSE(plist::parse(bytes, doc, error));
    EXPECT_EQ(error, "objects overlap in the file");
}

TEST(KeyedArchiveMalformed, ArchiveLevelFaults) {
    using Build = std::function<QByteArray(RawArchive&)>;
    // An object of class `cls` with the given extra entries.
    const auto object = [](RawArchive& a, const QStringList& cls,
                           std::vector<std::pair<uint32_t, uint32_t>> entries) {
        entries.push_back({a.key("$class"), a.uid(a.addClass(cls))});
        return a.add(a.w.addDict(entries));
    };
    const QStringList array = {"NSArray", "NSObject"};
    const std::vector<std::pair<Build, const char*>> cases = {
        {[&](RawArchive& a) {
             return a.finish(a.uid(object(a, {"NSNull", "NSObject"}, {})), 99999);
         },
         "unsupported archive version"},
        {[](RawArchive& a) { return a.finish(a.uid(57)); }, "outside the object table"},
        {[&](RawArchive& a) {                            // an array that contains itself
             const uint64_t self = a.objects.size() + 1; // after its class
             object(a, array, {{a.key("NS.objects"), a.w.addArray({a.uid(self)})}});
             return a.finish(a.uid(self));
         },
         "reference cycle"},
        {[&](RawArchive& a) { // 200 arrays nested in each other
             const uint64_t cls = a.addClass(array);
             const uint64_t first = a.objects.size();
             for (int i = 0; i < 200; ++i) {
                 std::vector<uint32_t> items;
                 if (i < 199)
                     items.push_back(a.uid(a.objects.size() + 1));
                 a.add(a.w.addDict(
                     {{a.key("NS.objects"), a.w.addArray(items)}, {a.key("$class"), a.uid(cls)}}));
             }
             return a.finish(a.uid(first));
         },
         "objects nested too deeply"},
        {[&](RawArchive& a) {
             const uint64_t k = a.add(a.w.addString("k"));
             return a.finish(a.uid(object(a, {"NSDictionary", "NSObject"},
                                          {{a.key("NS.keys"), a.w.addArray({a.uid(k)})},
                                           {a.key("NS.objects"), a.w.addArray({})}})));
         },
         "dictionary keys and values differ in number"},
        {[](RawArchive& a) {
             return a.finish(a.uid(a.add(a.w.addDict({{a.key("$class"), a.w.addInteger(3)}}))));
         },
         "object without $class"},
        {[](RawArchive& a) {
             const uint64_t cls = a.add(a.w.addDict({{a.key("$classes"), a.w.addArray({})}}));
             return a.finish(a.uid(a.add(a.w.addDict({{a.key("$class"), a.uid(cls)}}))));
         },
         "class entry without $classname"},
        {[&](RawArchive& a) {
             return a.finish(a.uid(
                 object(a, array, {{a.key("NS.objects"), a.w.addArray({a.w.addInteger(1)})}})));
         },
         "object reference is not a UID"},
    };
    for (const auto& [build, expected] : cases) {
        RawArchive a;
        const QString error = decodeError(build(a));
        EXPECT_TRUE(error.contains(QLatin1String(expected))) << error.toStdString();
    }
}

// Every truncation and byte flip is read or refused, never a crash (see the asan build).
TEST(KeyedArchiveMalformed, EveryTruncationAndByteFlipIsHandled) {
    const QByteArray good = readTestData("NSKeyedUnarchiver-ComplexTest.plist");
    ASSERT_FALSE(good.isEmpty());
    QString error;
    for (qsizetype len = 0; len < good.size(); ++len)
        EXPECT_FALSE(archive::decodeArchive(good.left(len), error));
    int refused = 0;
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (uchar x : {0x01, 0x80, 0xFF}) {
            QByteArray bad = good;
            bad[i] = static_cast<char>(static_cast<uchar>(bad[i]) ^ x);
            if (!archive::decodeArchive(bad, error))
                ++refused;
        }
    }
    EXPECT_GT(refused, 0);
}

// macOS archives, fuzz seeds and past crashers: refused with a reason, or round-trip.
TEST(KeyedArchiveRoundTrip, MacOSArchivesAndFuzzCorpusKeepTheRoundTripProperty) {
    const QDir corpus(QStringLiteral(ORVIX_TEST_SOURCE_DIR "/tests/sound/fuzz/corpus"));
    ASSERT_GE(corpus.entryList(QDir::Files).size(), 4);
    std::vector<std::pair<QString, QByteArray>> inputs;
    for (const char* name : {"NSKeyedUnarchiver-ComplexTest.plist", "NSMutableSet-Numbers.archive",
                             "NSOrderedSet-Numbers.archive", "NSAttributedString.archive"})
        inputs.emplace_back(name, readTestData(name));
    for (const QString& name : corpus.entryList(QDir::Files))
        inputs.emplace_back(name, test::readFile(corpus.filePath(name)));
    for (const auto& [name, bytes] : inputs) {
        ASSERT_FALSE(bytes.isEmpty()) << name.toStdString();
        QString error;
        NodePtr root = archive::decodeArchive(bytes, error);
        // Every macOS archive decodes.
        EXPECT_TRUE(root || !name.startsWith("NS")) << name.toStdString();
        if (root)
            expectRoundTrip(root, name.toStdString());
        else
            EXPECT_FALSE(error.isEmpty()) << name.toStdString();
    }
}
