#include "LogCapture.h"
#include "os/input/EventFlags.h"
#include "os/input/InputStateFile.h"
#include "os/input/KeyCodeTable.h"
#include "os/input/PostedEventLedger.h"
#include "render/KeyboardLayout.h"

#include <QTemporaryDir>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace orvix::input;

namespace {

TEST(KeyCodeTableTest, CoversThePanelAndIsOneToOne) {
    const auto panel = orvix::keyboardLayout();
    ASSERT_EQ(panel.size(), 78u);
    for (const orvix::KeyPlacement& key : panel) {
        const int code = int(key.code);
        if (code == keycode::Function)
            EXPECT_FALSE(KeyCodeTable::forVirtualCode(code)) << "Function has no key in X";
        else
            EXPECT_TRUE(KeyCodeTable::forVirtualCode(code)) << code;
    }
    // What the Function remapping posts must be postable too.
    for (int code : {76, 115, 116, 117, 119, 121})
        EXPECT_TRUE(KeyCodeTable::forVirtualCode(code)) << code;

    std::set<int> virtualCodes, evdevCodes;
    std::set<std::string_view> names;
    int previous = -1;
    for (const KeyCodeEntry& entry : KeyCodeTable::entries()) {
        EXPECT_GT(entry.virtualCode, previous) << "entries must stay sorted for lookup";
        previous = entry.virtualCode;
        EXPECT_LT(entry.virtualCode, 128);
        EXPECT_TRUE(evdevCodes.insert(entry.evdevCode).second) << entry.evdevCode;
        EXPECT_TRUE(names.insert(entry.xkbName).second) << entry.xkbName;
        EXPECT_EQ(KeyCodeTable::forEvdevCode(entry.evdevCode)->virtualCode, entry.virtualCode);
        EXPECT_EQ(KeyCodeTable::forXkbName(entry.xkbName)->virtualCode, entry.virtualCode);
        EXPECT_EQ(KeyCodeTable::forVirtualCode(entry.virtualCode)->evdevCode, entry.evdevCode);
    }
    EXPECT_EQ(KeyCodeTable::forVirtualCode(0)->xkbName, "AC01");
    EXPECT_EQ(KeyCodeTable::forVirtualCode(50)->xkbName, "TLDE");
    EXPECT_FALSE(KeyCodeTable::forVirtualCode(-1));
    EXPECT_FALSE(KeyCodeTable::forVirtualCode(52));
    EXPECT_FALSE(KeyCodeTable::forVirtualCode(128));
    EXPECT_FALSE(KeyCodeTable::forXkbName(""));
}

// Every modifier bit has a key (twins and Right Control: KeyInputTest).
TEST(EventFlagsTest, EveryModifierBitHasAKey) {
    uint64_t all = 0;
    for (int code = 0; code < 128; ++code)
        all |= modifierBitForKeyCode(code);
    EXPECT_EQ(all, kModifierMask);
}

TEST(InputStateFileTest, RoundTripsAndRejectsBadFiles) {
    InputStateFile::Record record;
    record.active = true;
    record.keycodes = {50, 64, 133};
    record.lockRestore = 0;
    record.locks = 0x44;
    const std::string text = InputStateFile::format(record);
    EXPECT_EQ(text.size(), InputStateFile::kSize);
    EXPECT_EQ(InputStateFile::parse(text), record);
    EXPECT_EQ(InputStateFile::parse(InputStateFile::format({})), InputStateFile::Record{});

    const char* bad[] = {
        "",
        "orvix-input 2\nactive 1\n",
        "orvix-input 1\n",                      // no active line
        "orvix-input 1\nactive 2\n",            // not a boolean
        "orvix-input 1\nactive 1\nlock 5\n",    // out of range
        "orvix-input 1\nactive 1\nlocks 256\n", // no X modifier mask
        "orvix-input 1\nactive 1\nkeys 7\n",    // below the X keycode range
        "orvix-input 1\nactive 1\nkeys 256\n",  // above it
        "orvix-input 1\nactive 1\nkeys 50x\n",  // not a number
        "orvix-input 1\nactive 1\nbogus 1\n",   // unknown word
        "orvix-input 1\nactive\n",              // truncated
        "orvix-input 1\nactive 1\nkeys 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9\n", // too many
        "\x01\x02\x03 garbage",
    };
    for (const char* text : bad)
        EXPECT_FALSE(InputStateFile::parse(text)) << text;

    // More keys than the file holds are cut, never overflowing the record.
    record.keycodes.assign(40, 255);
    const auto parsed = InputStateFile::parse(InputStateFile::format(record));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->keycodes.size(), InputStateFile::kMaxKeycodes);
    // Values that are no X keycodes are left out.
    record.keycodes = {3, 50, 100000, -7, 64};
    EXPECT_EQ(InputStateFile::parse(InputStateFile::format(record))->keycodes,
              (std::vector<int>{50, 64}));
}

TEST(InputStateFileTest, PrivateFileRewrittenInPlace) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/orvix/state";
    {
        InputStateFile file(path);
        ASSERT_TRUE(file.open());
        EXPECT_FALSE(file.previous());
        InputStateFile::Record longer{true, {50, 64, 133, 37}, 1};
        ASSERT_TRUE(file.write(longer));
        ASSERT_TRUE(file.write(InputStateFile::Record{true, {}, -1}));
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir.path().toStdString() + "/orvix").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    InputStateFile again(path);
    ASSERT_TRUE(again.open());
    ASSERT_TRUE(again.previous());
    EXPECT_EQ(*again.previous(), (InputStateFile::Record{true, {}, -1}));
    again.remove();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(InputStateFileTest, RefusesLinksAndIgnoresGarbage) {
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    mkdir((base + "/orvix").c_str(), 0700);
    const std::string target = base + "/elsewhere";
    close(::open(target.c_str(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(symlink(target.c_str(), (base + "/orvix/state").c_str()), 0);
    {
        orvix::test::LogCapture capture;
        InputStateFile file(base + "/orvix/state");
        EXPECT_FALSE(file.open());
        EXPECT_FALSE(file.write(InputStateFile::Record{true, {50}, -1}));
        EXPECT_EQ(capture.lines().size(), 1u);
    }
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0) << "wrote through a link";

    const std::string garbage = base + "/orvix/garbage";
    FILE* f = fopen(garbage.c_str(), "w");
    fputs("orvix-input 1\nactive 1\nkeys 1000000000000000000000\n", f);
    fclose(f);
    chmod(garbage.c_str(), 0600);
    orvix::test::LogCapture capture;
    InputStateFile file(garbage);
    EXPECT_TRUE(file.open());
    EXPECT_FALSE(file.previous());
    EXPECT_TRUE(capture.contains("Ignoring unreadable input state file"));
}

TEST(PostedEventLedgerTest, CountsPerKeyAndDirectionAcrossThreads) {
    PostedEventLedger ledger;
    ledger.notePosted(38, true);
    EXPECT_FALSE(ledger.consume(38, true)) << "off until a tap listens";
    ledger.setEnabled(true);
    ledger.notePosted(38, true);
    EXPECT_FALSE(ledger.consume(38, false));
    EXPECT_FALSE(ledger.consume(39, true));
    EXPECT_TRUE(ledger.consume(38, true));
    EXPECT_FALSE(ledger.consume(38, true));
    ledger.notePosted(-1, true);
    ledger.notePosted(256, true);
    EXPECT_FALSE(ledger.consume(-1, true));
    EXPECT_FALSE(ledger.consume(0, true)) << "out-of-range codes must not alias";

    // Poster and tap on two threads: every posted event is consumed exactly once.
    constexpr int kEach = 20000;
    std::atomic<int> consumed{0};
    std::atomic<bool> done{false};
    std::thread tap([&] {
        while (!done.load() || ledger.pending(50, true) > 0)
            if (ledger.consume(50, true))
                consumed.fetch_add(1);
    });
    for (int i = 0; i < kEach; ++i)
        ledger.notePosted(50, true);
    done.store(true);
    tap.join();
    EXPECT_EQ(consumed.load(), kEach);

    for (int i = 0; i < 70000; ++i)
        ledger.notePosted(51, false);
    EXPECT_EQ(ledger.pending(51, false), 65535) << "saturates instead of wrapping";
    ledger.setEnabled(false);
    EXPECT_EQ(ledger.pending(51, false), 0);
}

} // namespace
