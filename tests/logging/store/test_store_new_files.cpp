// How a writer makes a measurement file: only where nothing stands at its
// name (never over an earlier file, never through a link, never into a
// FIFO), and with its header on the drive from the moment it exists.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "logging/drives/meas_app_disks.h"
#include "logging/store/backend.h"
#include "logging/store/writer.h"
#include "store_fixture.h"

using namespace measure::store;

namespace {

std::string currentName() {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    char name[40];
    LapOutFra_genFilename(name, sizeof name, 0, s.outing, s.lap, s.fragment);
    return name;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A USB writer that looks at its drive right after each file was made: the
// smallest size any file there has at that moment.
class HeaderWatcher : public USBWriter {
public:
    HeaderWatcher(Backend& be, const std::string& folder, dataWriteCounts_t counts)
        : USBWriter(be, "usb_meas:", counts), folder_(folder) {}
    bool write(int vfIdx, const uint8_t* data, unsigned length) override {
        const bool wasOpen = isOpen(vfIdx);
        const bool ok = USBWriter::write(vfIdx, data, length);
        if (!wasOpen && isOpen(vfIdx)) {
            std::lock_guard<std::mutex> g(m_);
            ++made_;
            for (auto& e : std::filesystem::directory_iterator(folder_)) {
                struct stat st {};
                if (::stat(e.path().c_str(), &st) == 0 && (smallest_ < 0 || st.st_size < smallest_))
                    smallest_ = st.st_size;
            }
        }
        return ok;
    }
    long smallest() {
        std::lock_guard<std::mutex> g(m_);
        return smallest_;
    }
    unsigned made() {
        std::lock_guard<std::mutex> g(m_);
        return made_;
    }

private:
    std::string folder_;
    std::mutex m_;
    long smallest_ = -1;
    unsigned made_ = 0;
};

}  // namespace

// Something stands at a file's name that the counters did not see (it came
// after the trigger): an earlier file, a FIFO, a link to a file elsewhere, a
// link that leads nowhere. The writer leaves each as it is and makes the
// file at the next free name on its drive, with a line naming both: no
// record is lost to a name. The USB drive, where the names are free, gets
// every file under the counters' names.
TEST_F(StoreTest, ANameInUseOnTheDriveIsNeverWrittenOverAndTheFileTakesTheNextFreeName) {
    writeFile("outside.bin", "not a measurement file");
    std::vector<std::string> names{currentName()};
    writeFile("meas/" + names[0], "an earlier recording");
    configure();
    // the stick's writer, joining on its own task, takes the first file too
    awaitBothWriters();
    std::set<std::string> obstacles{names[0]};
    auto takeName = [&](unsigned fragment) {
        const std::string n = currentName();
        names.push_back(n);
        const std::string p = dir + "/meas/" + n;
        // (the writer may have put the file before under this name already)
        if (fragment > 4 || std::filesystem::exists(std::filesystem::symlink_status(p))) return;
        obstacles.insert(n);
        if (fragment == 2) makeFifo("meas/" + n);
        std::error_code ec;   // the writer's file may come first between the look and the link
        if (fragment == 3) std::filesystem::create_symlink(dir + "/outside.bin", p, ec);
        if (fragment == 4) std::filesystem::create_symlink("gone", p, ec);
        if (ec) obstacles.erase(n);
    };
    uint32_t ts = 100000;
    unsigned fragment = 1;
    for (unsigned n = 0; n < 5 * 1000; ++n, ts += 10) {
        if (n && n % 1000 == 0) {
            LapOutFra_setFragmentTrig(ts - 5);
            takeName(++fragment);
        }
        feed(0, ts);
        if (n % 2 == 0) feed(1, ts);
    }
    closeAndDrain();
    stopStore();
    ASSERT_EQ(names.size(), 5u);

    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(readText(dir + "/meas/" + names[0]) == "an earlier recording") << "an earlier file was written over";
    EXPECT_GE(countContaining(log, "'meas:/" + names[0] + "' is in use (a file): the file is made as 'meas:/"), 1)
        << testing::PrintToString(log);
    struct stat st {};
    if (obstacles.count(names[1])) {
        ASSERT_EQ(::lstat((dir + "/meas/" + names[1]).c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_GE(countContaining(log, "'meas:/" + names[1] + "' is in use (a FIFO)"), 1);
    }
    EXPECT_TRUE(readText(dir + "/outside.bin") == "not a measurement file") << "a file written through a link";
    if (obstacles.count(names[2])) {
        EXPECT_GE(countContaining(log, "'meas:/" + names[2] + "' is in use (a link)"), 1);
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/meas/gone")) << "a file made through a link";
    if (obstacles.count(names[3])) {
        EXPECT_GE(countContaining(log, "'meas:/" + names[3] + "' is in use (a link)"), 1);
    }
    EXPECT_GE(obstacles.size(), 2u);
    EXPECT_EQ(countContaining(log, "is not made on this drive"), 0);
    EXPECT_EQ(std::atomic_ref<uint32_t>(meas_store_writeCounters(0, 0).failures).load(), 0u)
        << "records lost to a name in use";

    // every file is on both drives, whole, with the same records
    auto internal = files("meas");
    auto usb = files("usb_meas");
    EXPECT_EQ(usb.size(), 5u);
    for (auto& n : names) EXPECT_EQ(usb.count(n), 1u) << n;
    std::vector<std::vector<uint8_t>> made;
    for (auto& [name, bytes] : internal)
        if (!obstacles.count(name) && name != "outside.bin") made.push_back(bytes);
    ASSERT_EQ(made.size(), 5u) << testing::PrintToString(log);
    size_t recordsMeas = 0, recordsUsb = 0;
    for (auto& bytes : made) {
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << err;
        recordsMeas += c.records.size();
    }
    for (auto& [name, bytes] : usb) {
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(bytes.data(), bytes.size(), c, err, &layouts())) << err;
        recordsUsb += c.records.size();
    }
    EXPECT_EQ(recordsMeas, recordsUsb);
    EXPECT_GT(recordsMeas, 7000u);
}

// A power cut right after a file was made must find at least its header:
// the header goes to the drive when the file is made, not with the first
// timed flush.
TEST_F(StoreTest, ANewFileHoldsItsHeaderFromTheMomentItIsMade) {
    std::snprintf(cfg_meas[0].copyPartition, CFG_MEAS_STRLEN, "none");   // only the internal writer
    configure();
    Backend* be = pretrigger()->getBackend();
    MeasStoreWriteCounters counts{};
    auto* watcher = new HeaderWatcher(*be, dir + "/usb_meas", {&counts.writes, &counts.bytes, &counts.failures});
    ASSERT_TRUE(watcher->taskStart("r_USBWriter1", 146, 10000, VX_FP_TASK, 0));
    ASSERT_TRUE(waitFor([&] { return be->writerCount() == 2; }, 5000));

    uint32_t ts = 100000;
    for (unsigned n = 0; n < 3 * 200; ++n, ts += 10) {
        if (n && n % 200 == 0) LapOutFra_setFragmentTrig(ts - 5);
        feed(0, ts);
    }
    closeAndDrain();
    EXPECT_EQ(watcher->made(), 3u);
    EXPECT_GE(watcher->smallest(), 42) << "a file on the drive without its whole header";
    // the back end owns the watcher: it goes with the store
}

// An earlier run's empty file stands at the name the counters give: the
// writer makes its file at the next free name, and the empty file is not
// counted as made by this run, so the look for empty leftovers removes it.
// The files the writers made are readable by all and written only by the
// device, whatever the mask of the process.
TEST_F(StoreTest, AnEarlierRunsEmptyFileAtTheNameIsNotThisRunsAndNewFilesAreNotWritableByOthers) {
    const std::string taken = currentName();
    writeFile("meas/" + taken, "");
    const mode_t mask = ::umask(0);
    configure();
    uint32_t ts = 100000;
    for (unsigned n = 0; n < 300; ++n, ts += 10) feed(0, ts);
    closeAndDrain();
    ::umask(mask);
    auto log = takeLogTexts();
    ASSERT_GE(countContaining(log, "'meas:/" + taken + "' is in use (an empty file): the file is made as"), 1)
        << testing::PrintToString(log);
    unsigned made = 0;
    for (const char* drive : {"meas", "usb_meas"})
        for (auto& [name, bytes] : files(drive)) {
            if (bytes.empty()) continue;
            struct stat st {};
            ASSERT_EQ(::lstat((dir + "/" + drive + "/" + name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode_t(0644)) << drive << "/" << name;
            ++made;
        }
    EXPECT_EQ(made, 2u);
    EXPECT_EQ(meas_app_removeEmptyMeasFiles("meas:"), 1);
    EXPECT_FALSE(std::filesystem::exists(dir + "/meas/" + taken)) << "an earlier run's empty file is kept";
    EXPECT_EQ(files("meas").size(), 1u);
}
