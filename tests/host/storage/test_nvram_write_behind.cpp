// The NVRAM written behind its writers: a change never waits for the disk, a
// batch is one whole-file write, a failed write keeps its changes and is
// tried again, and a folder sync that fails after the rename leaves the new
// file as what was written.
//
// This program's own fsync stands between the host layer and the C library's:
// it counts the syncs of files, can hold them at a gate and can fail those of
// folders.
#include "host/device_fixture.h"
#include "host/kernel/kernel_internal.h"

#include "call_gate.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <vector>

namespace {

std::atomic<bool> failFolderSyncs{false};
std::atomic<int> fileSyncs{0};

CallGate gate;

}  // namespace

extern "C" int fsync(int fd) {
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    if (folder && failFolderSyncs.load()) {
        errno = EIO;
        return -1;
    }
    if (!folder) {
        ++fileSyncs;
        gate.pass();
    }
    return real(fd);
}

namespace {

struct NvramWriteBehindTest : DeviceFolderTest {
    void TearDown() override {
        gate.open();
        failFolderSyncs = false;
        DeviceFolderTest::TearDown();
    }
    static uint16_t readAbsLap() {
        uint16_t v = 0;
        return host::nvramRead(host::NVRAM_ID_ABS_LAP, 0, &v, 2) == 2 ? v : 0xFFFF;
    }
};

TEST_F(NvramWriteBehindTest, FailedFolderSyncAfterTheRenameIsNoFailedWrite) {
    const uint16_t older = 0x1111, newer = 0x2222;
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &older, 2), 2);
    host::nvramReload();
    failFolderSyncs = true;
    EXPECT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &newer, 2), 2);
    EXPECT_EQ(readAbsLap(), newer);
    host::nvramReload();   // writes it, with the folder sync failing
    EXPECT_EQ(host::nvramWriteProblem(), "");
    failFolderSyncs = false;
    EXPECT_EQ(readAbsLap(), newer);   // memory and disk agree: the new value

    failFolderSyncs = true;
    EXPECT_TRUE(host::detail::writeFileAtomic(dir + "/page.bin", "page", 4));
    EXPECT_TRUE(std::filesystem::exists(dir + "/page.bin"));
}

TEST_F(NvramWriteBehindTest, ABatchIsOneWholeFileWrite) {
    const uint8_t zero[6] = {};
    host::nvramBatchBegin();
    const int before = fileSyncs.load();
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_LAPSTACK_COUNTERS, 0, zero, 4), 4);
    for (unsigned i = 0; i < 256; ++i) ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_LAPSTACK, i, zero, 6), 6);
    host::nvramBatchEnd();
    EXPECT_TRUE(host::nvramFlush());
    EXPECT_EQ(fileSyncs.load() - before, 1);
    host::nvramReload();
    uint8_t out[6] = {1};
    EXPECT_EQ(host::nvramRead(host::NVRAM_ID_LAPSTACK, 255, out, 6), 6);
    EXPECT_EQ(out[0], 0);
}

// The writer is held in its sync: changes and reads go on meanwhile, and
// what came during the write is written after it.
TEST_F(NvramWriteBehindTest, ChangesNeverWaitForTheDisk) {
    gate.close();
    const uint16_t first = 1, second = 2;
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &first, 2), 2);
    ASSERT_TRUE(gate.someoneWaits(std::chrono::seconds(10)));
    auto change = std::async(std::launch::async, [&] {
        return host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &second, 2) == 2 && readAbsLap() == second;
    });
    const bool inTime = change.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    gate.open();
    EXPECT_TRUE(inTime) << "a change waited for the disk";
    EXPECT_TRUE(change.get());
    EXPECT_TRUE(host::nvramFlush());
    host::nvramReload();
    EXPECT_EQ(readAbsLap(), second);
}

// A write the disk refuses leaves the old file whole and the change in
// memory; the writer tries again by itself and then the disk has it.
TEST_F(NvramWriteBehindTest, FailedWriteKeepsItsChangesAndIsTriedAgain) {
    const uint16_t kept = 7, changed = 8;
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &kept, 2), 2);
    ASSERT_TRUE(host::nvramFlush());
    std::filesystem::create_directory(dir + "/nvram.bin.tmp");
    EXPECT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &changed, 2), 2);
    EXPECT_FALSE(host::nvramFlush());
    EXPECT_EQ(host::nvramWriteProblem(), "nvram.bin.tmp: Is a directory");   // the file it failed on
    EXPECT_EQ(readAbsLap(), changed);
    std::filesystem::remove(dir + "/nvram.bin.tmp");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!host::nvramWriteProblem().empty() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(host::nvramWriteProblem(), "");
    host::detail::resetNvram();   // a power cut: nothing more is written
    EXPECT_EQ(readAbsLap(), changed);
}

}  // namespace

namespace {

// A change's stamp tells whether the disk holds it, and a flush up to it
// waits for the write that is held and no longer. Stamps never go back, not
// even across a reload: one handed out before is stored after it.
TEST_F(NvramWriteBehindTest, AChangesStampIsStoredOnceTheDiskHoldsIt) {
    const uint16_t first = 5, second = 6;
    const uint64_t before = host::nvramChangeStamp();
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &first, 2), 2);
    const uint64_t stamp = host::nvramChangeStamp();
    EXPECT_GT(stamp, before);
    EXPECT_TRUE(host::nvramFlushTo(stamp));
    EXPECT_TRUE(host::nvramStored(stamp));

    gate.close();
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &second, 2), 2);
    const uint64_t held = host::nvramChangeStamp();
    ASSERT_TRUE(gate.someoneWaits(std::chrono::seconds(10)));
    EXPECT_FALSE(host::nvramStored(held));
    EXPECT_TRUE(host::nvramStored(stamp));   // the older change is on the disk
    auto flush = std::async(std::launch::async, [held] { return host::nvramFlushTo(held); });
    gate.open();
    EXPECT_TRUE(flush.get());
    EXPECT_TRUE(host::nvramStored(held));

    host::nvramReload();
    EXPECT_GE(host::nvramChangeStamp(), held);
    EXPECT_TRUE(host::nvramStored(held));
    host::detail::resetNvram();   // a cut after the flush: the disk has it
    EXPECT_EQ(readAbsLap(), second);
}

}  // namespace

namespace {

// Waiters are served together: while a write is held, one whose change is
// stored returns at once, one whose change the held write carries returns
// with it, and those whose changes came during it all return with the one
// write after it.
TEST_F(NvramWriteBehindTest, OneWriteServesEveryWaiterWhoseChangeCameBeforeIt) {
    const uint16_t v = 1;
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &v, 2), 2);
    ASSERT_TRUE(host::nvramFlush());
    const uint64_t stored = host::nvramChangeStamp();
    gate.close();
    const int before = fileSyncs.load();
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &v, 2), 2);
    const uint64_t held = host::nvramChangeStamp();
    ASSERT_TRUE(gate.someoneWaits(std::chrono::seconds(10)));
    auto storedOne = std::async(std::launch::async, [stored] { return host::nvramFlushTo(stored); });
    const bool atOnce = storedOne.wait_for(std::chrono::seconds(10)) == std::future_status::ready;

    std::vector<std::future<bool>> waiters;
    waiters.push_back(std::async(std::launch::async, [held] { return host::nvramFlushTo(held); }));
    for (unsigned i = 0; i < 6; ++i) {
        const uint8_t entry[6] = {uint8_t(i)};
        ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_LAPSTACK, i, entry, 6), 6);
        const uint64_t mine = host::nvramChangeStamp();
        waiters.push_back(std::async(std::launch::async, [mine] {
            return host::nvramFlushTo(mine) && host::nvramStored(mine);
        }));
    }
    waiters.push_back(std::async(std::launch::async, [] { return host::nvramFlush(); }));
    gate.open();
    EXPECT_TRUE(atOnce) << "a waiter whose change was stored waited for the disk";
    EXPECT_TRUE(storedOne.get());
    for (auto& w : waiters) EXPECT_TRUE(w.get());
    EXPECT_EQ(host::nvramUnstored(), "");
    EXPECT_EQ(fileSyncs.load() - before, 2) << "the held write and one more serve every waiter";
}

// A wait with a bound (the stop's) ends at its bound while the write is
// held, and names what the disk lacks; the write goes on and stores it.
TEST_F(NvramWriteBehindTest, ABoundedWaitEndsInTimeAndNamesWhatTheDiskLacks) {
    gate.close();
    const uint16_t lap = 3;
    const uint8_t counters[6] = {1};
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_ABS_LAP, 0, &lap, 2), 2);
    ASSERT_TRUE(gate.someoneWaits(std::chrono::seconds(10)));
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_LAPOUTFRA, 0, counters, 6), 6);
    ASSERT_EQ(host::nvramWrite(host::NVRAM_ID_LAPOUTFRA, 1, counters, 6), 6);
    EXPECT_FALSE(host::nvramFlushWithin(50));
    EXPECT_FALSE(host::nvramStopWriter(50));
    EXPECT_EQ(host::nvramUnstored(), "lap counters (id 0, 2 copies); absolute lap counter (id 261)");
    gate.open();
    EXPECT_TRUE(host::nvramFlushWithin(10000));
    EXPECT_EQ(host::nvramUnstored(), "");
    EXPECT_TRUE(host::nvramStopWriter(10000));
    host::detail::resetNvram();
    EXPECT_EQ(readAbsLap(), lap);
}

}  // namespace
