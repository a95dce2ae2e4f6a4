// The whole store driven with synthetic records: pretrigger, back end, the
// internal and the USB writer, fragments, pretrigger window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "host/kernel/kernel.h"
#include "logging/format/meas_dump.h"
#include "logging/held_calls.h"
#include "logging/store/backend.h"
#include "store_fixture.h"

namespace {

// Records of every file, in file-name order, by block.
std::map<uint8_t, std::vector<MeasFileRecord>> readAll(const std::map<std::string, std::vector<uint8_t>>& fs,
                                                     const std::map<uint8_t, MeasFileBlockLayout>& layouts) {
    std::map<uint8_t, std::vector<MeasFileRecord>> out;
    for (auto& [name, bytes] : fs) {
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts)) << name << ": " << err;
        EXPECT_EQ(c.storedCrc, c.computedCrc) << name;
        for (auto& r : c.records) out[r.blockId].push_back(r);
    }
    return out;
}

int measdump(const std::string& path) {
    const char* argv[] = {"measdump", path.c_str()};
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    int rc = measdump_main(2, argv, out, err);
    std::fclose(out);
    std::fclose(err);
    return rc;
}

// The status block module as the store sees it: closes each file with a
// small status block, as every file is closed on the device.
int closeWithStatusBlock(const MeasAppStore_SbRequest* r, unsigned, unsigned) {
    static const uint8_t image[] = {'S', 'B'};
    meas_app_PreTrigPutMetaDataVfCopy(r->pretrigger, r->vfIdx, image, sizeof image, MEAS_META_STATUSBLOCK);
    meas_app_PreTrigCloseFile(r->pretrigger, r->vfIdx);
    return 1;
}

}  // namespace

TEST_F(StoreTest, ThreeFragmentsReachBothDrivesWholeAndIdentical) {
    MeasAppStoreHooks hooks{};
    hooks.sbCreate = closeWithStatusBlock;
    MeasAppStore_setHooks(hooks);
    configure();
    // both drives' writers take the first file: the stick's joins on its own
    // task, after the store is made (one that joins later misses that file)
    awaitBothWriters();
    uint32_t ts = 100000;
    const uint32_t fragmentAt[2] = {100000 + 3000 * 10, 100000 + 6000 * 10};
    for (unsigned n = 0; n < 9000; ++n, ts += 10) {
        for (uint32_t f : fragmentAt)
            if (ts == f + 10) LapOutFra_setFragmentTrig(f);
        feed(0, ts);
        if (n % 2 == 0) feed(1, ts);
    }
    closeAndDrain();
    EXPECT_EQ(MeasAppStore_queuedFiles(0), 0u);
    stopStore();
    MeasAppStore_setHooks(MeasAppStoreHooks{});

    auto internal = files("meas");
    auto usb = files("usb_meas");
    ASSERT_EQ(internal.size(), 3u);
    EXPECT_EQ(internal, usb);
    for (auto& [name, bytes] : internal) EXPECT_EQ(measdump(dir + "/meas/" + name), 0) << name;

    auto back = readAll(internal, layouts());
    for (auto& [id, want] : fed) {
        const auto& got = back[id];
        ASSERT_EQ(got.size(), want.size()) << "block " << int(id);
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].timeStamp, want[i].ts) << "block " << int(id) << " record " << i;
            EXPECT_EQ(got[i].values, want[i].values) << "block " << int(id) << " record " << i;
            if (::testing::Test::HasFailure()) return;
        }
    }
    // each fragment holds exactly the records up to its trigger
    MeasFileContent second;
    std::string err;
    auto it = std::next(internal.begin());
    ASSERT_TRUE(meas_file_read(it->second.data(), it->second.size(), second, err, &layouts()));
    EXPECT_GT(second.records.front().timeStamp, fragmentAt[0]);
    EXPECT_LE(second.records.back().timeStamp, fragmentAt[1]);
    EXPECT_EQ(second.header.fragment, 2);
}

TEST_F(StoreTest, PretriggerKeepsOnlyTheWindowBeforeTheTrigger) {
    // 2.5 s pretrigger; the records of 0 .. 10 s arrive, then the trigger at t = 10 s
    // The clock stands at 7.6 s when the store is made and the records begin
    // to arrive, and at 10 s for the trigger: until then the buffer keeps
    // everything from 5.1 s on, even when feeding takes seconds (a sanitizer
    // on a busy host). The writers are made in that time: its start is no
    // step they see.
    host::setTimeStampOffset(0);
    uint32_t offset = 76000u - host::timeStamp();
    host::setTimeStampOffset(offset);
    configure(2.5f);
    ASSERT_EQ(pretrigger()->bufferTime(), 25000u);
    EXPECT_FALSE(meas_app_PreTrigMeasRunning(meas[0].store));
    for (uint32_t ts = 0; ts <= 100000; ts += 10) feed(0, ts);
    offset += 100000u - host::timeStamp();
    host::setTimeStampOffset(offset);
    meas_app_PreTrigTrigger(meas[0].store);
    const uint32_t window = pretrigger()->windowStart();
    EXPECT_GE(window, 75000u);
    EXPECT_LT(window, 75000u + 2000u);
    ASSERT_TRUE(waitFor([&] { return meas_app_PreTrigMeasRunning(meas[0].store) == 1; }, 2000));
    for (uint32_t ts = 100010; ts <= 101000; ts += 10) feed(0, ts);
    closeAndDrain();
    stopStore();
    host::setTimeStampOffset(0);

    auto internal = files("meas");
    ASSERT_EQ(internal.size(), 1u);
    auto back = readAll(internal, layouts())[1];
    ASSERT_FALSE(back.empty());
    // a frame of 64 records reaches the file when its last record is in the window
    const uint32_t frameSpan = 64 * 10;
    EXPECT_GE(back.front().timeStamp + frameSpan, window);
    EXPECT_GE(back.front().timeStamp, 75000u - frameSpan);
    EXPECT_LE(back.front().timeStamp, window);
    EXPECT_EQ(back.back().timeStamp, 101000u);
    for (size_t i = 1; i < back.size(); ++i) ASSERT_EQ(back[i].timeStamp, back[i - 1].timeStamp + 10);
}

TEST_F(StoreTest, UsbStickPulledAndBackOnlyLosesTheFilesInBetween) {
    configure();
    uint32_t ts = 10000;
    for (unsigned n = 0; n < 200; ++n, ts += 10) feed(0, ts);
    ASSERT_TRUE(waitFor([&] { return files("usb_meas").size() == 1; }, 5000));
    std::filesystem::remove_all(dir + "/usb_meas");
    LapOutFra_setFragmentTrig(ts);
    for (unsigned n = 0; n < 200; ++n, ts += 10) feed(0, ts + 10);
    // let the USB writer see the missing drive on the frames of this file
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (auto& b : blocks) meas_app_store_frame(&b);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    makeDrive("usb_meas");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    LapOutFra_setFragmentTrig(ts + 10);
    for (unsigned n = 0; n < 200; ++n, ts += 10) feed(0, ts + 20);
    closeAndDrain();
    stopStore();
    auto internal = files("meas");
    EXPECT_EQ(internal.size(), 3u);
    auto usb = files("usb_meas");
    ASSERT_EQ(usb.size(), 1u);   // the file begun after the stick came back
    EXPECT_EQ(usb.begin()->second, internal[usb.begin()->first]);
    const auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "due to media absence"));
    // the file begun while the stick was away is named once, by its name, as a whole
    const auto& [between, bytes] = *std::next(internal.begin());
    std::vector<std::string> named;
    for (const auto& line : log)
        if (line.find("'usb_meas:/" + between + "': ") != std::string::npos) named.push_back(line);
    ASSERT_EQ(named.size(), 1u) << testing::PrintToString(log);
    EXPECT_TRUE(logContains(named, std::to_string(bytes.size()) + " bytes in ")) << named[0];
    EXPECT_TRUE(logContains(named, "they are not on this drive")) << named[0];
    EXPECT_FALSE(logContains(log, "vfile (")) << "a file named by its slot: " << testing::PrintToString(log);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [&](const std::string& l) { return l.find("skipping 'usb_meas:/" + between + "'") != l.npos; }),
              1)
        << testing::PrintToString(log);
}

// The USB drive is pulled while a file is open on it, and comes back holding
// another file at that name (it was in another device meanwhile): the writer
// never touches that file, neither with the bytes its stream still held nor
// with an attribute set by the name. The internal drive holds the records.
TEST_F(StoreTest, AFileOpenWhenTheUsbDriveWentIsNeverWrittenAgainWhenTheDriveComesBack) {
    configure();
    const std::string name = fileOfCounters();
    const std::string usbFile = dir + "/usb_meas/" + name;
    uint32_t ts = 10000;
    for (unsigned n = 0; n < 200; ++n, ts += 10) feed(0, ts);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(usbFile) && std::filesystem::file_size(usbFile) >= 42; },
                        5000));
    // the stream still holds the frames after the header: it flushes them after half a second
    std::filesystem::rename(dir + "/usb_meas", dir + "/usb_away");
    std::vector<std::string> log;
    ASSERT_TRUE(waitFor(
        [&] {
            for (unsigned n = 0; n < 10; ++n, ts += 10) feed(0, ts);
            for (auto& b : blocks) meas_app_store_frame(&b);
            for (auto& t : takeLogTexts()) log.push_back(t);
            return logContains(log, "due to media absence");
        },
        5000));
    const std::string other = "another device's recording under this name";
    {
        std::ofstream out(dir + "/usb_away/" + name, std::ios::binary | std::ios::trunc);   // the same file, rewritten
        out << other;
    }
    std::filesystem::rename(dir + "/usb_away", dir + "/usb_meas");
    for (unsigned n = 0; n < 100; ++n, ts += 10) feed(0, ts);
    LapOutFra_setFragmentTrig(ts);
    // the writer writes the next file on the drive that came back
    ASSERT_TRUE(waitFor(
        [&] {
            for (unsigned n = 0; n < 10; ++n, ts += 10) feed(0, ts);
            for (auto& b : blocks) meas_app_store_frame(&b);
            return files("usb_meas").size() >= 2;
        },
        5000));
    closeAndDrain();
    stopStore();
    std::ifstream in(usbFile, std::ios::binary);
    const std::string after(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(after == other) << "the file that came back was written: " << after.size() << " bytes";
    uint32_t attrib = 0;
    ASSERT_TRUE(host::getFileAttributes(std::string("usb_meas:/") + name, &attrib));
    EXPECT_EQ(attrib & host::ATTR_READ_ONLY, 0u) << "the file that came back got an attribute";
    // the internal drive's file holds every record of its time
    auto internal = files("meas");
    ASSERT_EQ(internal.count(name), 1u);
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(internal[name].data(), internal[name].size(), c, err, &layouts())) << err;
    EXPECT_GE(c.records.size(), 300u);
}

// The USB drive is swapped for another between two looks of its writer: the
// file open on the first drive is no longer at its name. The writer drops it
// then: the drive that left (now in another device) gets nothing more, and
// the file at that name on the drive that came gets nothing at all.
TEST_F(StoreTest, AUsbDriveSwappedBetweenTwoLooksTakesItsOpenFileAlong) {
    configure();
    const std::string name = fileOfCounters();
    uint32_t ts = 10000;
    for (unsigned n = 0; n < 200; ++n, ts += 10) feed(0, ts);
    ASSERT_TRUE(waitFor([&] { return files("usb_meas").size() == 1; }, 5000));
    const std::string other = "another device's recording under this name";
    makeDrive("usb_other");
    writeFile(std::string("usb_other/") + name, other);
    std::filesystem::rename(dir + "/usb_meas", dir + "/usb_away");
    std::filesystem::rename(dir + "/usb_other", dir + "/usb_meas");
    std::vector<std::string> log;
    ASSERT_TRUE(waitFor(
        [&] {
            for (unsigned n = 0; n < 10; ++n, ts += 10) feed(0, ts);
            for (auto& b : blocks) meas_app_store_frame(&b);
            for (auto& t : takeLogTexts()) log.push_back(t);
            return logContains(log, std::string("'usb_meas:/") + name + "' dropped due to media absence");
        },
        5000));
    const std::string away = dir + "/usb_away/" + name;
    const auto left = std::filesystem::file_size(away);
    for (unsigned n = 0; n < 300; ++n, ts += 10) feed(0, ts);
    LapOutFra_setFragmentTrig(ts);
    for (unsigned n = 0; n < 100; ++n, ts += 10) feed(0, ts);
    closeAndDrain();
    stopStore();
    EXPECT_EQ(std::filesystem::file_size(away), left) << "the drive that left was written on";
    std::ifstream in(dir + "/usb_meas/" + name, std::ios::binary);
    const std::string after(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(after == other) << "the drive that came was written on: " << after.size() << " bytes";
}

namespace {
// What the loss lines name of a file on a drive ("usb_meas:"): its bytes,
// and whether stamps are named (a line of a status block alone has none).
struct Named {
    unsigned bytes = 0;
    bool stamped = false;
};
Named namedLoss(const std::vector<std::string>& log, const std::string& drive, const std::string& name) {
    Named named;
    const std::string at = "BFSWriter: '" + drive + "/" + name + "': ";
    for (const auto& line : log) {
        const auto p = line.find(at);
        if (p == std::string::npos || line.find(" not written ") == std::string::npos) continue;
        unsigned bytes = 0, blocks = 0, from = 0, to = 0;
        const int got = std::sscanf(line.c_str() + p + at.size(), "%u bytes in %u blocks (time stamps %u to %u)",
                                    &bytes, &blocks, &from, &to);
        EXPECT_GE(got, 2) << "no bytes: " << line;
        named.stamped = named.stamped || got == 4;
        named.bytes += bytes;
    }
    return named;
}
}  // namespace

// The stick is pulled while its writer's stream holds frames, files begin
// and end (with their status blocks) while it is away, and the stop halts
// the writers without it: every byte a file on the stick lacks against its
// twin on the internal drive is named, once, by the file's name with its
// stamps.
TEST_F(StoreTest, EveryByteAFileOnAPulledStickLacksIsNamedAtTheStop) {
    MeasAppStoreHooks hooks{};
    hooks.sbCreate = closeWithStatusBlock;
    MeasAppStore_setHooks(hooks);
    configure();
    const std::string name = fileOfCounters();
    const std::string usbFile = dir + "/usb_meas/" + name;
    uint32_t ts = 10000;
    feedBoth(ts, 200);
    // its header is on the stick, the frames after it are in the stream
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(usbFile) && std::filesystem::file_size(usbFile) >= 42; },
                        5000));
    std::filesystem::rename(dir + "/usb_meas", dir + "/usb_away");
    std::vector<std::string> log;
    ASSERT_TRUE(waitFor(
        [&] {
            feedBoth(ts, 10);
            for (auto& b : blocks) meas_app_store_frame(&b);
            for (auto& t : takeLogTexts()) log.push_back(t);
            return logContains(log, "due to media absence");
        },
        5000));
    for (unsigned f = 0; f < 3; ++f) {
        LapOutFra_setFragmentTrig(ts - 5);
        feedBoth(ts, 150);
    }
    // the internal drive has made every file: the stop's halt ends them
    for (auto& b : blocks) meas_app_store_frame(&b);
    ASSERT_TRUE(waitFor([&] { return files("meas").size() == 4; }, 5000));
    meas_app_PreTrigHaltWriters(200);
    stopStore();
    MeasAppStore_setHooks(MeasAppStoreHooks{});
    for (auto& t : takeLogTexts()) log.push_back(t);

    auto internal = files("meas");
    auto stick = files("usb_away");
    ASSERT_EQ(stick.count(name), 1u);
    for (const auto& [file, bytes] : internal) {
        // the internal drive's own file may end at the halt as well
        const unsigned whole = unsigned(bytes.size()) + namedLoss(log, "meas:", file).bytes;
        const unsigned held = stick.count(file) ? unsigned(stick[file].size()) : 0u;
        const Named named = namedLoss(log, "usb_meas:", file);
        EXPECT_EQ(named.bytes, whole - held) << file << ": " << testing::PrintToString(log);
        EXPECT_TRUE(named.stamped) << file << ": its records' stamps are not named";
    }
    EXPECT_FALSE(logContains(log, "(file ")) << "a file named by its slot";
}

namespace {
// The stick is pulled while its writer waits in a sync that the stick holds
// (held until the test lets it go), and another, empty stick comes.
class NewStickTest : public StoreTest {
protected:
    void TearDown() override {
        held_calls::releaseDriveSyncs();
        StoreTest::TearDown();
    }
    // The files the pulled stick held, by name.
    std::map<std::string, std::vector<uint8_t>> pullInASyncAndPlugAnother(uint32_t& ts) {
        configure();
        feedBoth(ts, 200);
        EXPECT_TRUE(waitFor([&] { return files("usb_meas").size() == 1; }, 5000));
        held_calls::holdDriveSyncs("/usb_meas/");
        // the writer syncs its file within half a second of writing to it
        EXPECT_TRUE(waitFor(
            [&] {
                feedBoth(ts, 20);
                for (auto& b : blocks) meas_app_store_frame(&b);
                return held_calls::driveSyncWaits(std::chrono::seconds(0));
            },
            5000));
        std::filesystem::rename(dir + "/usb_meas", dir + "/usb_pulled");
        auto pulled = files("usb_pulled");
        makeDrive("usb_meas");
        // the split of an arrival waits for the USB drive's writers to join
        measure::store::Backend* be = pretrigger()->getBackend();
        EXPECT_TRUE(waitFor([&] { return !be->usbWriterWaiting(); }, 5000));
        return pulled;
    }
    // Two new files of 300 records each: their names.
    std::vector<std::string> beginTwoFiles(uint32_t& ts) {
        std::vector<std::string> begun;
        for (unsigned file = 0; file < 2; ++file) {
            LapOutFra_setFragmentTrig(ts - 5);
            feedBoth(ts, 300);
            begun.push_back(blocks[0].storeData->file->name);
        }
        return begun;
    }
    void expectUntouched(const std::map<std::string, std::vector<uint8_t>>& pulled) {
        for (const auto& [name, bytes] : files("usb_pulled"))
            EXPECT_EQ(bytes.size(), pulled.at(name).size()) << name << " written after the pull";
    }
    // No file of the stick that came is named as lacking anything.
    static void expectNoneNamed(const std::vector<std::string>& log, const std::vector<std::string>& begun) {
        EXPECT_FALSE(logContains(log, "fell behind")) << testing::PrintToString(log);
        for (const auto& name : begun) {
            EXPECT_FALSE(logContains(log, "'usb_meas:/" + name + "': ")) << name << " named as lacking something";
            EXPECT_FALSE(logContains(log, "'usb_meas:/" + name + "' dropped")) << name << " dropped";
        }
    }
};
}  // namespace

// The stick that came is a new drive: it gets the files begun after it came,
// each whole, while the writer of the pulled stick still waits. That one,
// let go, writes nothing more into the pulled stick, names what the file cut
// at the pull lacks, and ends.
TEST_F(NewStickTest, TheStickThatCameGetsTheFilesBegunAfterItWhileTheWriterWaitsOnThePulledOne) {
    uint32_t ts = 10000;
    const auto pulled = pullInASyncAndPlugAnother(ts);
    ASSERT_FALSE(HasFailure());
    const std::string cut = pulled.begin()->first;
    const auto begun = beginTwoFiles(ts);
    closeAndDrain();
    auto log = takeLogTexts();
    const auto internal = files("meas");
    auto usb = files("usb_meas");
    for (const auto& name : begun) {
        ASSERT_TRUE(usb.count(name)) << name << " is not on the stick that came: " << testing::PrintToString(log);
        EXPECT_TRUE(usb[name] == internal.at(name)) << name << " is not whole on the stick that came";
    }
    held_calls::releaseDriveSyncs();
    ASSERT_TRUE(waitFor(
        [&] {
            for (auto& line : takeLogTexts()) log.push_back(line);
            return logContains(log, "the writer of the drive that went ends");
        },
        5000));
    stopStore();
    for (const auto& line : takeLogTexts()) log.push_back(line);
    expectNoneNamed(log, begun);
    expectUntouched(pulled);
    unsigned named = 0;
    for (const auto& line : log)
        if (line.find("'usb_meas:/" + cut + "': ") != std::string::npos) {
            ++named;
            EXPECT_NE(line.find("the file ends before them"), std::string::npos) << line;
        }
    EXPECT_EQ(named, 1u) << testing::PrintToString(log);
    EXPECT_FALSE(logContains(log, "(file ")) << "a file named by its slot";
}

// The stop comes while the writer of the pulled stick still waits: nothing
// more goes into the pulled stick, and what the stop names of that writer
// leaves out the files the stick that came has.
TEST_F(NewStickTest, AStopWhileTheWriterStillWaitsOnThePulledStickNamesNoFileOfTheOneThatCame) {
    uint32_t ts = 10000;
    const auto pulled = pullInASyncAndPlugAnother(ts);
    ASSERT_FALSE(HasFailure());
    const auto begun = beginTwoFiles(ts);
    for (auto& b : blocks) meas_app_store_frame(&b);
    ASSERT_TRUE(waitFor([&] { return files("usb_meas").count(begun.back()); }, 5000));
    meas_app_PreTrigHaltWriters(200);   // as the device's stop does
    held_calls::releaseDriveSyncs();
    stopStore();
    const auto log = takeLogTexts();
    // the stick that came has the first whole; what the last, still open,
    // lacks is named once, by the writer of that stick: its records in one
    // line, and its closing status block, where the halt came before the
    // close reached the writer, in a line of its own
    expectNoneNamed(log, {begun.front()});
    unsigned records = 0, closing = 0;
    std::string namedLines;
    for (const auto& line : log)
        if (line.find("'usb_meas:/" + begun.back() + "': ") != std::string::npos) {
            records += line.find(" bytes in ") != std::string::npos;
            closing += line.find("its closing blocks not written") != std::string::npos;
            namedLines += line + "\n";
        }
    EXPECT_LE(records, 1u) << namedLines;
    EXPECT_LE(closing, 1u) << namedLines;
    expectUntouched(pulled);
}
