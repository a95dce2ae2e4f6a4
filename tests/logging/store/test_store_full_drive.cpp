// A full drive: "meas:" (or "usb_meas:") is a tiny tmpfs, filled (up to a
// few kilobytes or to the last byte) by a filler file. The writer's messages
// name the cause, its failures are counted, the USB drive of the same
// measurement still gets every file whole, and a file the drive refused
// bytes of stays readable and takes the records again once the filler is
// gone. A file dropped at a split goes on in a new one once there is room,
// on either drive, and room in the blocks a file system reserves counts for
// a process that may write them.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "store_fixture.h"

namespace {

class StoreFullDrive : public StoreTest {
protected:
    // false (and the test is skipped) where no tmpfs can be mounted
    bool mountDrive(const char* size, const char* folder = "meas") {
        mountPoint = dir + "/" + folder;
        const std::string opts = std::string("size=") + size + ",mode=0755";
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) != 0) return false;
        mounted = true;
        return true;
    }
    // no byte left for the measurement files
    void fill() {
        std::FILE* f = std::fopen((mountPoint + "/filler").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        static const char block[1024] = {};
        while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {
        }
        std::fclose(f);
    }
    void unfill() { ASSERT_EQ(::unlink((mountPoint + "/filler").c_str()), 0); }
    // room for `bytes` more
    void makeRoom(off_t bytes) {
        const std::string filler = mountPoint + "/filler";
        struct stat st {};
        ASSERT_EQ(::stat(filler.c_str(), &st), 0);
        ASSERT_EQ(::truncate(filler.c_str(), st.st_size > bytes ? st.st_size - bytes : 0), 0);
    }
    // bytes of m01's measurement files on the internal drive
    off_t bytesOnDrive() {
        off_t n = 0;
        for (auto& e : std::filesystem::directory_iterator(mountPoint)) {
            struct stat st {};
            if (e.path().filename() != "filler" && ::stat(e.path().c_str(), &st) == 0) n += st.st_size;
        }
        return n;
    }
    uint32_t failures(unsigned usb = 0) {
        return std::atomic_ref<uint32_t>(meas_store_writeCounters(0, usb).failures).load();
    }
    // An ext2 file system of 2 MiB with half of it reserved, mounted on the
    // drive folder; false where none can be made.
    bool mountWithReserve() {
        mountPoint = dir + "/meas";
        const std::string image = dir + "/reserve.img";
        const std::string make = "mkfs.ext2 -q -F -m 50 -b 1024 '" + image + "' 2048 >/dev/null 2>&1";
        const std::string mnt = "mount -o loop '" + image + "' '" + mountPoint + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0 || std::system(mnt.c_str()) != 0) return false;
        mounted = true;
        return true;
    }
    // Records until the drive is full across a lap split: the new lap's
    // file gets no header onto the drive (headers larger than what cutting
    // the last file back frees) and is dropped, its records refused.
    void fullAtASplit(uint32_t& ts, unsigned usb) {
        static const std::string qov(64 * 1024, 'q');
        meas[0].qovBlob = const_cast<char*>(qov.data());
        meas[0].qovSize = uint32_t(qov.size());
        ASSERT_TRUE(feedUntil(ts, [&] { return bytesOnDrive() >= 64 * 1024 + 20000; }));
        fill();
        ASSERT_TRUE(feedUntil(ts, [&] { return failures(usb) >= 20; }));
        LapOutFra_setFragmentTrig(ts);
        const uint32_t atSplit = failures(usb);
        ASSERT_TRUE(feedUntil(ts, [&] { return failures(usb) >= atSplit + 10; }));
        EXPECT_EQ(meas_app_PreTrigTakeDriveLoss(meas[0].store), 0) << "no room yet";
    }
    // Once the drive is told to have room (cause: the bit expected), the
    // logging application's part: a new fragment. The drive's newest file
    // then holds every record from there on.
    void resumesInANewFile(uint32_t& ts, int cause) {
        int told = 0;
        ASSERT_TRUE(feedUntil(ts, [&] { return (told = meas_app_PreTrigTakeDriveLoss(meas[0].store)) != 0; }))
            << "the room that came back is not told";
        EXPECT_EQ(told, cause);
        LapOutFra_setFragmentTrig(ts);
        const uint32_t newFileFrom = ts;
        feedBoth(ts, 1000);
        closeAndDrain();
        auto drive = files(mountPoint.substr(dir.size() + 1).c_str());
        drive.erase("filler");
        ASSERT_EQ(drive.size(), 2u) << "the first file and the one after the room came back";
        newestHoldsWhatCameAfter(drive, newFileFrom);
    }
    // The drive's newest file holds every record fed after `from` (one fed
    // at the split is the old file's).
    void newestHoldsWhatCameAfter(const std::map<std::string, std::vector<uint8_t>>& drive, uint32_t from) {
        std::map<uint8_t, std::vector<uint32_t>> got;
        ASSERT_NO_FATAL_FAILURE(newestFileStamps(drive, got));
        for (auto& [id, want] : fed) EXPECT_EQ(got[id], fedAfter(want, from)) << "block " << int(id);
    }
    // Feeds records of both blocks in steps of 10 until cond holds (checked
    // between batches, as the writer takes them); false when it never does.
    bool feedUntil(uint32_t& ts, const std::function<bool()>& cond) {
        for (unsigned batch = 0; batch < 2000; ++batch) {
            feedBoth(ts, 20);
            if (waitFor(cond, 20)) return true;
        }
        return false;
    }
    void TearDown() override {
        stopStore();   // the writers let go of the drive first
        if (mounted && ::umount2(mountPoint.c_str(), 0) != 0) ::umount2(mountPoint.c_str(), MNT_DETACH);
        StoreTest::TearDown();
    }
    std::string mountPoint;
    bool mounted = false;
};

}  // namespace

TEST_F(StoreFullDrive, FailuresNameTheCauseAreCountedAndTheUsbDriveStaysWhole) {
    if (!mountDrive("16k")) GTEST_SKIP() << "cannot mount a tmpfs on the drive folder: " << std::strerror(errno);
    fill();
    makeRoom(8192);   // the first file's header and its first frames, no more
    configure();
    uint32_t ts = 100000;
    const uint32_t fragmentAt = ts + 2000 * 10;   // the next lap's file
    for (unsigned n = 0; n < 4000; ++n, ts += 10) {
        if (ts == fragmentAt + 10) LapOutFra_setFragmentTrig(fragmentAt);
        feed(0, ts);
        if (n % 2 == 0) feed(1, ts);
    }
    closeAndDrain();
    stopStore();
    const auto log = takeLogTexts();

    // every failure of the internal writer says why
    const std::string cause = std::strerror(ENOSPC);
    int failures = 0;
    for (const auto& l : log) {
        if (l.rfind("BFSWriter::", 0) != 0 || l.find("fail") == std::string::npos) continue;
        ++failures;
        EXPECT_NE(l.find(cause), std::string::npos) << l;
    }
    EXPECT_GT(failures, 0);
    EXPECT_GT(meas_store_writeCounters(0, 0).failures, 0u);
    // what the internal drive kept of a file is whole items: sound or cut, never broken
    unsigned withRecords = 0;
    for (auto& [name, bytes] : files("meas")) {
        if (name == "filler") continue;
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts()) || c.cutAt != SIZE_MAX)
            << name << ": " << err;
        withRecords += !c.records.empty();
    }
    EXPECT_EQ(withRecords, 1u) << "the first file keeps the records the drive took";
    EXPECT_EQ(meas_store_writeCounters(0, 1).failures, 0u);

    // both files on the USB drive, every record in them
    auto usb = files("usb_meas");
    ASSERT_EQ(usb.size(), 2u);
    std::map<uint8_t, std::vector<uint32_t>> got;
    for (auto& [name, bytes] : usb) {
        MeasFileContent c;
        std::string err;
        ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
        EXPECT_EQ(c.storedCrc, c.computedCrc) << name;
        for (auto& r : c.records) got[r.blockId].push_back(r.timeStamp);
    }
    for (auto& [id, want] : fed) {
        std::vector<uint32_t> ts;
        for (auto& r : want) ts.push_back(r.ts);
        EXPECT_EQ(got[id], ts) << "block " << int(id);
    }
}

// The drive fills while a file is being written and gets room again: the
// bytes the drive took of the item it refused are cut off again, so the file
// reads cleanly to its end, and the records stored after the room came back
// are in it, each as it was fed.
TEST_F(StoreFullDrive, AFileTheDriveRefusedBytesOfReadsCleanlyAndGoesOnWhenThereIsRoomAgain) {
    if (!mountDrive("128k")) GTEST_SKIP() << "cannot mount a tmpfs on the drive folder: " << std::strerror(errno);
    configure();
    uint32_t ts = 100000;
    ASSERT_TRUE(feedUntil(ts, [&] { return bytesOnDrive() >= 20000; }));
    fill();
    // several refusals while the drive stays full
    ASSERT_TRUE(feedUntil(ts, [&] { return failures() >= 3; }));
    const uint32_t refused = failures();
    unfill();
    const uint32_t roomAgain = ts;
    feedBoth(ts, 1000);
    closeAndDrain();
    stopStore();

    auto meas = files("meas");
    meas.erase("filler");
    ASSERT_EQ(meas.size(), 1u);
    const auto& [name, bytes] = *meas.begin();
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << name << ": " << err;
    EXPECT_GE(failures(), refused);

    // every record read back is one fed, in order; those fed after the room
    // came back are all there
    std::map<uint8_t, std::vector<const MeasFileRecord*>> got;
    for (auto& r : c.records) got[r.blockId].push_back(&r);
    for (auto& [id, want] : fed) {
        size_t k = 0;
        for (const MeasFileRecord* r : got[id]) {
            while (k < want.size() && want[k].ts != r->timeStamp) ++k;
            ASSERT_LT(k, want.size()) << "block " << int(id) << ": record at " << r->timeStamp << " never fed";
            EXPECT_EQ(r->values, want[k].values) << "block " << int(id) << " at " << r->timeStamp;
        }
        std::vector<uint32_t> late, lateGot;
        for (auto& f : want)
            if (int32_t(f.ts - roomAgain) >= 0) late.push_back(f.ts);
        for (const MeasFileRecord* r : got[id])
            if (int32_t(r->timeStamp - roomAgain) >= 0) lateGot.push_back(r->timeStamp);
        EXPECT_EQ(lateGot, late) << "block " << int(id);
    }
}

// The drive is full at a lap split: the new lap's file gets no header onto
// it and is dropped, named once in the log however many refusals came before.
// Once the drive has room again the writer says so (the logging application
// then goes on in a new file), and that new file holds every record stored
// into it.
TEST_F(StoreFullDrive, AFileDroppedAtASplitOnAFullDriveIsNamedAndTheNextFileIsWrittenOnceThereIsRoom) {
    if (!mountDrive("256k")) GTEST_SKIP() << "cannot mount a tmpfs on the drive folder: " << std::strerror(errno);
    configure();
    // headers larger than what cutting the first file back frees: the next
    // file's header finds no room while the filler is there
    static const std::string qov(64 * 1024, 'q');
    meas[0].qovBlob = const_cast<char*>(qov.data());
    meas[0].qovSize = uint32_t(qov.size());
    uint32_t ts = 100000;
    ASSERT_TRUE(feedUntil(ts, [&] { return bytesOnDrive() >= 64 * 1024 + 20000; }));
    fill();
    // more refusals of the open file than its flood limit lets through
    ASSERT_TRUE(feedUntil(ts, [&] { return failures() >= 20; }));
    LapOutFra_setFragmentTrig(ts);
    uint32_t atSplit = failures();
    // the new lap's records are lost, and counted
    ASSERT_TRUE(feedUntil(ts, [&] { return failures() >= atSplit + 10; }));
    EXPECT_EQ(meas_app_PreTrigTakeDriveLoss(meas[0].store), 0) << "no room yet";
    unfill();
    // the logging application's part: a new fragment once the writer says so
    ASSERT_TRUE(feedUntil(ts, [&] { return meas_app_PreTrigTakeDriveLoss(meas[0].store) == MEAS_STORE_ROOM_AGAIN; }))
        << "the room that came back is not told";
    LapOutFra_setFragmentTrig(ts);
    const uint32_t newFileFrom = ts;
    feedBoth(ts, 1000);
    closeAndDrain();
    stopStore();

    const auto log = takeLogTexts();
    std::vector<std::string> drops;
    for (const auto& l : log)
        if (l.find("' dropped:") != std::string::npos && l.rfind("BFSWriter", 0) == 0) drops.push_back(l);
    ASSERT_EQ(drops.size(), 1u) << "the dropped file is not named once";
    auto meas = files("meas");
    meas.erase("filler");
    ASSERT_EQ(meas.size(), 2u) << "the first file and the one after the room came back";
    for (const auto& [name, bytes] : meas) EXPECT_EQ(drops[0].find(name), std::string::npos) << drops[0];
    newestHoldsWhatCameAfter(meas, newFileFrom);
}

// A drive full across two splits, with headers small enough to wait in the
// stream: each new file's header is refused when it is flushed at the
// file's making. Such a file is removed at once (no empty file stays until
// the next start), and the line that drops it gives what is on the drive.
TEST_F(StoreFullDrive, AFileWhoseHeaderFindsNoRoomIsRemovedAtOnce) {
    if (!mountDrive("256k")) GTEST_SKIP() << "cannot mount a tmpfs on the drive folder: " << std::strerror(errno);
    configure();
    uint32_t ts = 100000;
    ASSERT_TRUE(feedUntil(ts, [&] { return bytesOnDrive() >= 20000; }));
    fill();
    ASSERT_TRUE(feedUntil(ts, [&] { return failures() >= 20; }));
    unsigned fillers = 0;
    for (unsigned split = 0; split < 2; ++split) {
        LapOutFra_setFragmentTrig(ts);
        const uint32_t atSplit = failures();
        // what cutting the last file back gives is taken at once
        ASSERT_TRUE(feedUntil(ts, [&] {
            std::rename((mountPoint + "/filler").c_str(), (mountPoint + "/filler" + std::to_string(++fillers)).c_str());
            fill();
            return failures() >= atSplit + 10;
        }));
    }
    std::vector<std::string> log;
    auto drops = [&] {
        for (auto& l : takeLogTexts()) log.push_back(l);
        return countContaining(log, "' dropped:");
    };
    ASSERT_TRUE(waitFor([&] { return drops() >= 2; }, 5000));
    for (auto& e : std::filesystem::directory_iterator(mountPoint)) {
        if (e.path().filename().string().rfind("filler", 0) == 0) continue;
        EXPECT_GT(std::filesystem::file_size(e.path()), 0u) << e.path() << " left empty";
    }
    drops();
    for (const auto& l : log) {
        if (l.find("' dropped:") != std::string::npos) {
            EXPECT_NE(l.find("(No space left on device, 0 bytes"), std::string::npos) << l;
        }
    }
    EXPECT_EQ(drops(), 2) << testing::PrintToString(log);
}

// The same on the USB drive: its writer looks for room as the internal
// drive's does, so recording there goes on before the next lap's split.
TEST_F(StoreFullDrive, TheUsbDriveFullAtASplitResumesInANewFileOnceThereIsRoom) {
    if (!mountDrive("256k", "usb_meas")) GTEST_SKIP() << "cannot mount a tmpfs on the USB drive's folder";
    configure();
    uint32_t ts = 100000;
    fullAtASplit(ts, 1);
    unfill();
    resumesInANewFile(ts, MEAS_STORE_USB_ROOM_AGAIN);
    EXPECT_EQ(countContaining(takeLogTexts(), "BFSWriter: drive usb_meas: has room again"), 1);
}

// A process that may write the blocks the file system keeps in reserve (the
// device runs as root) has room as long as reserved blocks are free: with
// only those free, recording goes on all the same.
TEST_F(StoreFullDrive, RoomInTheReservedBlocksCountsForAProcessThatMayWriteThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root writes the reserved blocks";
    if (!mountWithReserve()) GTEST_SKIP() << "cannot make and mount an ext2 image";
    configure();
    uint32_t ts = 100000;
    fullAtASplit(ts, 0);
    makeRoom(256 * 1024);   // well inside the 1 MiB reserve
    struct statvfs st {};
    ASSERT_EQ(::statvfs(mountPoint.c_str(), &st), 0);
    ASSERT_EQ(st.f_bavail, 0u) << "the free blocks are not the reserve's";
    resumesInANewFile(ts, MEAS_STORE_ROOM_AGAIN);
}
