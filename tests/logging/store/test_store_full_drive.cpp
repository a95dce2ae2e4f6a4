// A full internal drive: "meas:" is a tiny tmpfs filled to the last byte. The
// writer's messages name the cause, its failures are counted, and the USB
// drive of the same measurement still gets every file whole.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "store_fixture.h"

namespace {

class StoreFullDrive : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        mountPoint = dir + "/meas";
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=16k,mode=0755") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs on the drive folder: " << std::strerror(errno);
        mounted = true;
        // fill it: no byte left for the measurement files
        std::FILE* f = std::fopen((mountPoint + "/filler").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        static const char block[1024] = {};
        while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {
        }
        std::fclose(f);
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
    EXPECT_TRUE(logContains(log, "BFSWriter::close() - failed to close file with index ("));
    EXPECT_GT(meas_store_writeCounters(0, 0).failures, 0u);
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
