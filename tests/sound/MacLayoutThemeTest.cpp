#include "SoundTestSupport.h"
#include "sound/KeyedArchive.h"
#include "sound/SoundTheme.h"

#include <QDir>
#include <gtest/gtest.h>
#include <plist/plist.h>

using namespace orvix;
using Slot = SoundTheme::Slot;

namespace {

// A theme as macOS lays it out, built with libplist: key order, mutable rows, NSNull, NSURL.
class MacArchive {
public:
    using Entries = std::initializer_list<std::pair<const char*, plist_t>>;
    // A dictionary with its keys in the order given.
    static plist_t dict(Entries entries) {
        plist_t d = plist_new_dict();
        for (const auto& [key, value] : entries)
            plist_dict_set_item(d, key, value);
        return d;
    }
    static plist_t uid(uint64_t u) { return plist_new_uid(u); }
    uint64_t add(plist_t item) {
        plist_array_append_item(_objects, item);
        return plist_array_get_size(_objects) - 1;
    }
    uint64_t reserve() { return add(plist_new_bool(0)); }
    void set(uint64_t at, plist_t item) {
        plist_array_set_item(_objects, item, static_cast<uint32_t>(at));
    }
    uint64_t cls(const char* name, std::initializer_list<const char*> chain) {
        if (auto it = _classes.find(name); it != _classes.end())
            return it->second;
        plist_t list = plist_new_array();
        for (const char* c : chain)
            plist_array_append_item(list, plist_new_string(c));
        return _classes[name] =
                   add(dict({{"$classes", list}, {"$classname", plist_new_string(name)}}));
    }
    uint64_t array(const std::vector<uint64_t>& uids, bool mutableClass) {
        const uint64_t self = reserve();
        plist_t refs = plist_new_array();
        for (uint64_t u : uids)
            plist_array_append_item(refs, uid(u));
        set(self, dict({{"NS.objects", refs},
                        {"$class", uid(mutableClass ? cls("NSMutableArray",
                                                          {"NSMutableArray", "NSArray", "NSObject"})
                                                    : cls("NSArray", {"NSArray", "NSObject"}))}}));
        return self;
    }
    uint64_t null() {
        if (!_null) {
            _null = reserve();
            set(_null, dict({{"$class", uid(cls("NSNull", {"NSNull", "NSObject"}))}}));
        }
        return _null;
    }
    uint64_t sound(const QString& name, const QString& path) {
        const uint64_t self = reserve();
        const uint64_t nameUid = add(plist_new_string(name.toUtf8().constData()));
        const uint64_t url = reserve();
        const uint64_t relative =
            add(plist_new_string(QUrl::fromLocalFile(path).toEncoded().constData()));
        set(url, dict({{"NS.relative", uid(relative)},
                       {"NS.base", uid(0)},
                       {"$class", uid(cls("NSURL", {"NSURL", "NSObject"}))}}));
        set(self, dict({{"url", uid(url)},
                        {"transient", plist_new_bool(0)},
                        {"$class", uid(cls("Sound", {"Sound", "NSObject"}))},
                        {"name", uid(nameUid)},
                        {"version", plist_new_uint(1)}}));
        return self;
    }
    QByteArray finish(uint64_t root) {
        plist_t top = dict({{"$top", dict({{"root", uid(root)}})},
                            {"$objects", _objects},
                            {"$version", plist_new_uint(100000)},
                            {"$archiver", plist_new_string("NSKeyedArchiver")}});
        char* bin = nullptr;
        uint32_t length = 0;
        plist_to_bin(top, &bin, &length);
        QByteArray bytes(bin, static_cast<qsizetype>(length));
        free(bin);
        plist_free(top);
        return bytes;
    }

private:
    plist_t _objects = [] {
        plist_t objects = plist_new_array();
        plist_array_append_item(objects, plist_new_string("$null"));
        return objects;
    }();
    std::map<std::string, uint64_t> _classes;
    uint64_t _null = 0;
};

TEST(MacLayoutTheme, IndependentlyBuiltArchiveLoadsLikeOurs) {
    test::useLoopback();
    const QString a = test::scratchTone("mac a.wav", 0.3f);
    const QString b = test::scratchTone("mac-b.aiff", 0.6f, 2400, test::kAiff);
    ASSERT_FALSE(a.isEmpty() || b.isEmpty());

    MacArchive m;
    const uint64_t root = m.reserve();
    const uint64_t soundA = m.sound("mac a.wav", a);
    const uint64_t soundB = m.sound("mac-b.aiff", b);
    std::vector<uint64_t> rowUids;
    for (int r = 0; r < 3; ++r) {
        std::vector<uint64_t> cells(255, m.null());
        if (r == 1) {
            cells[0] = soundA;
            cells[36] = m.array({soundA, soundB}, true);
        }
        if (r == 0)
            cells[0] = soundA;
        rowUids.push_back(m.array(cells, r == 2));
    }
    const uint64_t table = m.array(rowUids, true);
    const uint64_t name = m.add(plist_new_string("Mac Made"));
    m.set(root, MacArchive::dict(
                    {{"name", MacArchive::uid(name)},
                     {"$class", MacArchive::uid(m.cls("SoundTheme", {"SoundTheme", "NSObject"}))},
                     {"sounds", MacArchive::uid(table)},
                     {"version", plist_new_uint(1)}}));
    const QByteArray macBytes = m.finish(root);

    const QString path = QDir(test::scratchDir()).filePath("mac.snth");
    ASSERT_TRUE(test::writeFile(path, macBytes));

    QString error;
    auto theme = SoundTheme::unarchiveObjectWithFile(path, error);
    ASSERT_TRUE(theme) << error.toStdString();
    EXPECT_EQ(theme->name(), "Mac Made");
    EXPECT_EQ(theme->failedSounds(), 0);
    const auto& rows = theme->sounds();
    ASSERT_EQ(rows[1][0].kind, Slot::Kind::Single);
    EXPECT_EQ(rows[1][0].single.sound->name(), "mac a.wav");
    EXPECT_EQ(rows[1][0].single.sound->url().toLocalFile(), a);
    ASSERT_EQ(rows[1][36].kind, Slot::Kind::List);
    ASSERT_EQ(rows[1][36].list.size(), 2u);
    EXPECT_EQ(rows[1][36].list[1].sound->name(), "mac-b.aiff");
    // One archived sound, one loaded sound, wherever it is referenced.
    EXPECT_EQ(rows[1][36].list[0].sound.get(), rows[1][0].single.sound.get());
    EXPECT_EQ(rows[0][0].single.sound.get(), rows[1][0].single.sound.get());
    EXPECT_EQ(rows[2][100].kind, Slot::Kind::Null);

    // The same theme written by us decodes to the same graph.
    auto ours = test::emptyTable();
    ours[1][0] = Slot::of(rows[1][0].single.sound);
    ours[0][0] = ours[1][0];
    ours[1][36] = Slot::ofList({rows[1][0].single.sound, rows[1][36].list[1].sound});
    const QByteArray ourBytes = SoundTheme("Mac Made", ours).archivedData();
    archive::NodePtr macGraph = archive::decodeArchive(macBytes, error);
    archive::NodePtr ourGraph = archive::decodeArchive(ourBytes, error);
    ASSERT_TRUE(macGraph && ourGraph);
    QString why;
    EXPECT_TRUE(archive::sameGraph(macGraph, ourGraph, &why)) << why.toStdString();
}

} // namespace
