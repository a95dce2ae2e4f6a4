// Lists, actions, virtual files, fragmenter, writers and pretrigger one by one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <type_traits>

#include "logging/meas_file_compose.h"
#include "logging/format/meas_frame.h"
#include "logging/store/writer.h"
#include "measurement/calparams.h"
#include "measurement/catalogue.h"
#include "platform/time_step.h"
#include "platform/timebase.h"
#include <memory>
#include <set>
#include "store_fixture.h"

using namespace measure::store;

namespace {

struct Item {
    explicit Item(int v) : value(v) {}
    int value;
};

// Takes the test's own writers out of the back end before they are taken
// apart: its task first, which reads the writers it owns from a copy, then
// each writer (the back end deletes its own only once its task has stopped).
void releaseWriters(Backend& be, const std::vector<Writer*>& writers) {
    be.taskStop(WAIT_FOREVER);
    for (Writer* w : writers) {
        be.remove(*w);
        be.disown(w);
    }
}

uint8_t* bytes(std::initializer_list<uint8_t> b) {
    auto* p = static_cast<uint8_t*>(std::malloc(b.size()));
    std::copy(b.begin(), b.end(), p);
    return p;
}

// A writer that only records what it is asked to do.
class RecordingWriter : public Writer {
public:
    RecordingWriter(Backend& be, uint8_t type) : Writer(be, type) {}
    bool isOpen(int vf) override { return open_.count(vf) != 0; }
    bool open(int vf) override {
        open_.insert(vf);
        return writePendingMeta(vf);
    }
    bool write(int vf, const uint8_t* d, unsigned n) override {
        if (!isOpen(vf) && !open(vf)) return false;
        return writeBytes(vf, d, n);
    }
    std::vector<uint8_t> out;

protected:
    bool taskMain() override { return false; }
    bool writeBytes(int, const uint8_t* d, unsigned n) override {
        out.insert(out.end(), d, d + n);
        return true;
    }

private:
    std::set<int> open_;
};

MeasAppStore_FileInfo_s* fileInfo(uint32_t initTs, uint32_t closeTs) {
    auto* f = static_cast<MeasAppStore_FileInfo_s*>(std::calloc(1, sizeof(MeasAppStore_FileInfo_s)));
    std::snprintf(f->name, sizeof f->name, "A0101001.0%02x", initTs & 0xFF);
    f->initTs = initTs;
    f->closeTs = closeTs;
    f->vfIdx = -1;
    return f;
}

}  // namespace

static_assert(!std::is_copy_constructible_v<Lock> && !std::is_copy_assignable_v<Lock>);

TEST_F(StoreTest, ListIteratorsAndCuts) {
    List<Item> l;
    Iterator<Item>* tail = l.createIterator("t", true);
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(tail->position(), 0u);
    EXPECT_EQ(tail->step(), nullptr);
    for (int i = 0; i < 5; ++i) l.add(new Item(i), 4);
    Item* first = tail->step();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->value, 0);   // a tail iterator on an empty list reads the first node appended
    EXPECT_EQ(tail->position(), 0u);
    tail->step();
    EXPECT_EQ(tail->position(), 1u);

    std::vector<Iterator<Item>*> its;
    for (int i = 1; i < 16; ++i) its.push_back(l.createIterator("x", false));
    EXPECT_EQ(l.createIterator("seventeenth", false), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "seventeenth(): Already assigned the maximum number of iterators! 16"));
    for (auto* it : its) delete it;
    delete tail;

    EXPECT_EQ(l.totalSize(), 5u * 20u);
    List<Item>* cut = l.removeSublist(9);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->count(), 5u);
    EXPECT_EQ(l.count(), 0u);
    EXPECT_EQ(l.cutCount(), 5u);
    EXPECT_EQ(l.totalSize(), 0u);
    delete cut;
    Iterator<Item>* late = l.createIterator("late", true);
    EXPECT_EQ(late->position(), 5u);
    l.add(new Item(9), 4);
    EXPECT_EQ(late->step()->value, 9);
    delete late;
}

TEST_F(StoreTest, ActionsRunOnlyOnTheirWriterTypesAndOwnTheirData) {
    Backend be(0);
    RecordingWriter usb(be, WRITER_TYPE_USB);
    ActionFlushFile flush(0);
    EXPECT_EQ(flush.execute(usb), 0);
    CopyFile_t copy{1, 1, 1, 1, "usb_meas:", 1};
    ActionFileCopy cp(copy);
    EXPECT_EQ(cp.execute(usb), 2);   // internal-drive writers only
    EXPECT_EQ(cp.size(), 36u + 9u);

    ActionMetaData bad(0, 8, bytes({1}), 1);
    EXPECT_EQ(bad.execute(usb), 1);
    EXPECT_TRUE(logContains(takeLogTexts(), "Writer::writeMetaData() called with invalid hdrType (8)"));

    // metadata before the file's first data is kept and follows its opening
    ActionMetaData event(3, 6, bytes({0xAA, 0xBB}), 2);
    EXPECT_EQ(event.execute(usb), 0);
    EXPECT_TRUE(usb.out.empty());
    ActionData data(5, 6, 3, bytes({1, 2, 3}), 3);
    EXPECT_EQ(data.execute(usb), 0);
    EXPECT_EQ(usb.out, (std::vector<uint8_t>{0xFF, 6, 0, 0, 0, 2, 0xAA, 0xBB, 1, 2, 3}));
    ActionMetaData dyn(3, 0, bytes({7, 7}), 2);
    usb.out.clear();
    EXPECT_EQ(dyn.execute(usb), 0);
    EXPECT_EQ(usb.out, (std::vector<uint8_t>{7, 7}));
    EXPECT_TRUE(dyn.forward());
    EXPECT_FALSE(event.forward());
    // an event's close is kept by a buffering pretrigger (its open may be in
    // the file already); an open or an instantaneous event ages like data
    const auto eventBlock = [](uint32_t duration) {
        std::vector<uint8_t> b = {0, 1, 0, 1, 2, 0, 0, 1, 0, 0, 0, 9};
        for (int i = 3; i >= 0; --i) b.push_back(uint8_t(duration >> (8 * i)));
        return b;
    };
    for (uint32_t duration : {20000u, 0xFFFFFFFFu, 0u}) {
        const std::vector<uint8_t> b = eventBlock(duration);
        auto* copy = static_cast<uint8_t*>(std::malloc(b.size()));
        std::memcpy(copy, b.data(), b.size());
        ActionMetaData e(3, 6, copy, uint32_t(b.size()), 500);
        EXPECT_EQ(e.forward(), duration == 20000u) << duration;
    }

    // a closing action deletes its virtual file when it goes
    MeasAppStore_FileInfo_s* f = fileInfo(0, MEAS_TS_UNSET);
    VirtualFile* vf = virtualFiles.create(0, f);
    ASSERT_NE(vf, nullptr);
    EXPECT_THROW(ActionOpen(0, nullptr, 0), const char*);
    auto* close = new ActionClose(0, vf->index());
    EXPECT_EQ(f->vfIdx, -1);
    EXPECT_EQ(virtualFiles.get(0, vf->index()), vf);
    delete close;
    EXPECT_EQ(virtualFiles.get(0, 0), nullptr);
}

TEST_F(StoreTest, VirtualFileRegistryAndFragmenter) {
    std::vector<VirtualFile*> live;
    for (uint32_t i = 0; i < 32; ++i) live.push_back(virtualFiles.create(0, fileInfo(1000 * i, 1000 * i + 500)));
    ASSERT_NE(live.back(), nullptr);
    MeasAppStore_FileInfo_s* extra = fileInfo(99000, MEAS_TS_UNSET);
    EXPECT_EQ(virtualFiles.create(0, extra), nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "VirtualFiles::create() file slots full"));
    std::free(extra);
    EXPECT_EQ(virtualFiles.find(0, 2200, time_stepCount()), 2);
    EXPECT_EQ(virtualFiles.find(0, 2700, time_stepCount()), -1);   // between two files
    delete virtualFiles.remove(0, 1);
    delete virtualFiles.remove(0, 2);
    delete virtualFiles.remove(0, 0);   // the lowest live index moves past 1 and 2
    EXPECT_EQ(virtualFiles.get(0, 3), live[3]);
    EXPECT_NE(virtualFiles.create(0, fileInfo(40000, MEAS_TS_UNSET)), nullptr);
    // header: 42 + 6 + 0 (no client configuration) + 10 + 42
    EXPECT_EQ(live[3]->headerSize(), 42u + 6u + 10u + 42u);

    cal().FILEFRAGMENTATION_SIZE = 1;
    cal().FILEFRAGMENTATION_TIME = 2;
    Fragmenter fr;
    fr.init(0, 1000, 100);
    fr.write(0, 1048476);
    EXPECT_EQ(fr.checkFragment(), 1);
    const uint32_t now = time_getTimestamp();
    Fragmenter timed;
    timed.init(0, now - 20000, 100);
    EXPECT_EQ(timed.checkFragment(), 0);   // only its header
    timed.write(0, 100);
    EXPECT_EQ(timed.checkFragment(), 2);
    timed.setPassThrough(false);
    timed.write(0, 50);
    EXPECT_EQ(timed.held(), 50u);
    timed.forward(0, 20);
    EXPECT_EQ(timed.held(), 30u);
    timed.setPassThrough(true);
    EXPECT_EQ(timed.handedOver(), 150u);
    // a time limit that falls on the one stamp meaning "no limit" still ends the file
    Fragmenter atUnset;
    atUnset.init(0, MEAS_TS_UNSET - 20000u, 100);
    atUnset.write(0, 100);
    host::setTimeStampOffset(MEAS_TS_UNSET - host::ownTimeStamp() + 10u);
    EXPECT_EQ(atUnset.checkFragment(), 2);
    host::setTimeStampOffset(0);
    cal().FILEFRAGMENTATION_SIZE = 0;
    Fragmenter unlimited;
    unlimited.init(0, now, 100);
    unlimited.write(0, 0xF0000000u);
    EXPECT_EQ(unlimited.checkFragment(), 0);
    cal().FILEFRAGMENTATION_TIME = 0;
}

// The 0.1 ms clock wraps at 2^32: a file begun just before the wrap holds
// the stamps just after it, and one closed before the wrap none after it.
TEST_F(StoreTest, AFilesTimeRunsOnAcrossTheWrapOfTheClock) {
    host::setTimeStampOffset(0x200u - host::ownTimeStamp());   // now: just after the wrap
    const int closed = virtualFiles.create(0, fileInfo(0xFFFF0000u, 0xFFFFFF00u))->index();
    const int open = virtualFiles.create(0, fileInfo(0xFFFFFF00u, MEAS_TS_UNSET))->index();
    EXPECT_EQ(virtualFiles.find(0, 0xFFFF8000u, time_stepCount()), closed);
    EXPECT_EQ(virtualFiles.find(0, 0xFFFFFF80u, time_stepCount()), open);
    EXPECT_EQ(virtualFiles.find(0, 0x100u, time_stepCount()), open);
    EXPECT_EQ(virtualFiles.find(0, 0xFFF00000u, time_stepCount()), -1);   // before both
    EXPECT_EQ(virtualFiles.find(0, 0x7FFF0000u, time_stepCount()), -1);   // far ahead of now: no file has that time yet
    host::setTimeStampOffset(0);
}

// A trigger opened the next file while the blocks have not left the one
// before yet (its end is not set): a stamp at or after the next file's
// start is that file's, one before it the file before's.
TEST_F(StoreTest, AStampIsTheNewestFilesThatBeganBeforeIt) {
    const uint32_t now = time_getTimestamp();
    const int before = virtualFiles.create(0, fileInfo(now - 3000, MEAS_TS_UNSET))->index();
    const int next = virtualFiles.create(0, fileInfo(now - 1000, MEAS_TS_UNSET))->index();
    EXPECT_EQ(virtualFiles.find(0, now - 2000, time_stepCount()), before);
    EXPECT_EQ(virtualFiles.find(0, now - 1000, time_stepCount()), next);
    EXPECT_EQ(virtualFiles.find(0, now - 500, time_stepCount()), next);
}

// The files run short of slots: the back end takes the oldest file's close
// out of the queue while one writer executes it and another, which gave the
// file up, is still inside the file's first write (its opening holds the
// file). The file lives until both are done with it.
TEST_F(StoreTest, AFileGivenUpLivesUntilEveryWriterInItIsDone) {
    Backend be(0);
    RecordingWriter a(be, WRITER_TYPE_BFS), b(be, WRITER_TYPE_USB);
    ASSERT_TRUE(be.subscribe(a));
    ASSERT_TRUE(be.subscribe(b));
    VirtualFile* oldest = virtualFiles.create(0, fileInfo(0, MEAS_TS_UNSET));
    ASSERT_NE(oldest, nullptr);
    const int idx = oldest->index();
    be.add(new ActionData(5, 6, idx, bytes({1, 2, 3}), 3), 31 + 16);
    be.add(new ActionClose(0, idx), 24 + 16);
    unsigned heldA = 99, heldB = 99;
    ASSERT_NE(be.next(a, &heldA), nullptr);
    be.done(heldA);
    ASSERT_NE(be.next(b, &heldB), nullptr);   // b opens the file
    ASSERT_NE(be.next(a, &heldA), nullptr);   // a closes it
    takeLogTexts();
    // the slots all but run out: the writer behind gives the file up at once
    for (uint32_t i = 1; virtualFiles.liveCount(0) < VirtualFiles::kSlots - 2; ++i)
        ASSERT_NE(virtualFiles.create(0, fileInfo(1000 * i, MEAS_TS_UNSET)), nullptr);
    std::vector<std::string> log;
    ASSERT_TRUE(waitFor(
        [&] {
            for (auto& t : takeLogTexts()) log.push_back(t);
            return logContains(log, "it gives up 'A0101001.000'") && be.count() == 1;
        },
        5000));
    be.done(heldA);
    const std::string gone = "VirtualFile::~VirtualFile() destroying index " + std::to_string(idx) + ",";
    for (auto& t : takeLogTexts()) log.push_back(t);
    EXPECT_FALSE(logContains(log, gone)) << "the file went while a writer was in it";
    // as the writer inside open() does across its wait for the counters
    // (a freed file is a fault under AddressSanitizer)
    char name[16] = "";
    EXPECT_TRUE(oldest->getFileName(name, sizeof name));
    EXPECT_STREQ(name, "A0101001.000");
    be.done(heldB);
    EXPECT_TRUE(logContains(takeLogTexts(), gone));
    releaseWriters(be, {&a, &b});
}

// The files a drive's going cut are given back once, by their counters, for
// that drive; what is no file name of the measurement is not kept.
TEST_F(StoreTest, FilesCutByADrivesGoingAreGivenOnceForThatDrive) {
    Backend be(0);
    be.noteCutOnDrive("usb_meas:", "A0102003.a01");   // outing 1, lap 2, absolute lap 0x3a, fragment 1
    be.noteCutOnDrive("usb_meas:", "A0102003.a01");
    for (const char* other : {"B0102003.a01", "A0102003.a01.part", "A0102003.A01", "A01020+3.a01", "A0102003"})
        be.noteCutOnDrive("usb_meas:", other);
    be.noteCutOnDrive("meas:", "A0101000.001");
    const std::vector<CopyFile_t> cut = be.takeCutOnDrive("usb_meas:");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].outing, 1);
    EXPECT_EQ(cut[0].lap, 2);
    EXPECT_EQ(cut[0].absLap, 0x3a);
    EXPECT_EQ(cut[0].fragment, 1);
    EXPECT_TRUE(be.takeCutOnDrive("usb_meas:").empty());
    EXPECT_EQ(be.takeCutOnDrive("meas:").size(), 1u);
}

TEST_F(StoreTest, DataQueuedBeforeAnyWriterSubscribedIsNotFlushed) {
    Backend be(1);
    be.add(new ActionFlushDir(), 16);
    EXPECT_FALSE(be.isOfflineDataFlushed());
    RecordingWriter w(be, WRITER_TYPE_BFS);
    ASSERT_TRUE(be.subscribe(w));
    unsigned held = 99;
    ASSERT_NE(be.next(w, &held), nullptr);
    be.done(held);
    EXPECT_TRUE(be.isOfflineDataFlushed());
    releaseWriters(be, {&w});
}

TEST_F(StoreTest, BackendRefusesANinthWriterAndKnowsWhenAllIsWritten) {
    Backend be(1);
    EXPECT_TRUE(be.isOfflineDataFlushed());
    std::vector<std::unique_ptr<RecordingWriter>> ws;
    for (int i = 0; i < 9; ++i) ws.push_back(std::make_unique<RecordingWriter>(be, WRITER_TYPE_BFS));
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(be.subscribe(*ws[i]));
    EXPECT_FALSE(be.subscribe(*ws[8]));
    EXPECT_FALSE(be.subscribe(*ws[0]));   // already subscribed
    be.add(new ActionFlushAll(), 16);
    EXPECT_FALSE(be.isOfflineDataFlushed());
    for (int i = 0; i < 8; ++i) {
        unsigned held = 99;
        ASSERT_NE(be.next(*ws[i], &held), nullptr);
        EXPECT_EQ(held, unsigned(i));
        be.done(held);
    }
    EXPECT_TRUE(be.isOfflineDataFlushed());
    EXPECT_TRUE(be.remove(*ws[3]));
    EXPECT_EQ(ws[3]->id(), 255);
    unsigned held = 0;
    EXPECT_EQ(be.next(*ws[3], &held), nullptr);
    std::vector<Writer*> all;
    for (auto& w : ws) all.push_back(w.get());
    releaseWriters(be, all);
}

TEST_F(StoreTest, EventsInsideThePretriggerWindowAreKept) {
    configure(2.5f);
    const uint32_t now = time_getTimestamp();
    feed(0, now - 50000);   // opens the file: its time begins before both events
    const uint8_t oldEvent[] = {1, 1, 1};
    const uint8_t recentEvent[] = {2, 2, 2};
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, oldEvent, 3, now - 40000, MEAS_META_EVENT);
    meas_app_PreTrigPutMetaDataCopy(meas[0].store, recentEvent, 3, now - 10000, MEAS_META_EVENT);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    meas_app_PreTrigTrigger(meas[0].store);
    ASSERT_TRUE(waitFor([&] { return meas_app_PreTrigMeasRunning(meas[0].store) == 1; }, 2000));
    meas_app_PreTrigTrigger(meas[0].store);   // not armed: changes nothing
    EXPECT_TRUE(logContains(takeLogTexts(), "trigger came without being armed"));
    closeAndDrain();
    stopStore();
    auto f = files("meas");
    ASSERT_EQ(f.size(), 1u);
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(f.begin()->second.data(), f.begin()->second.size(), c, err, &layouts())) << err;
    std::vector<std::vector<uint8_t>> events;
    for (auto& m : c.metas)
        if (m.type == MEAS_META_EVENT) events.push_back(m.payload);
    EXPECT_EQ(events, (std::vector<std::vector<uint8_t>>{{2, 2, 2}}));
}

TEST_F(StoreTest, FramesThatCannotBeHandedOverAreCountedLost) {
    configure();
    meas_app_PreTrigPutMeasFrame(meas[0].store, -1, bytes({1, 2, 3, 4}), 4, 0, 0);
    EXPECT_EQ(meas_store_stats().meas_lost_frames_m01, 1u);
    // without its mutex the file queue is not touched: the record is lost, counted
    MeasAppStore_deinit();
    feed(0, 4000);
    EXPECT_EQ(meas_store_stats().meas_lost_frames_m01, 2u);
    EXPECT_TRUE(logContains(takeLogTexts(), "could not take gFileQueueSem"));
    ASSERT_EQ(MeasAppStore_init(), 0);
    // a frame whose file closed under its block: lost, named with its stamps
    feed(0, 4100);
    feed(0, 4110);
    MeasAppStore_FileInfo_s* file = blocks[0].storeData->file;
    ASSERT_NE(file, nullptr);
    const std::string name = file->name;
    meas_app_PreTrigCloseFile(meas[0].store, file->vfIdx);
    meas_app_store_frame(&blocks[0]);
    EXPECT_EQ(meas_store_stats().meas_lost_frames_m01, 3u);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_store_frame(): m01 block #1: records of time stamps 4100 to 4110 "
                                       "lost: their file '" + name + "' is closed already"));
    meas_app_close_file(&blocks[0], SB_PERIOD);   // the block lets go of it
    // no lap counters: the records cannot be placed in a file; the stop names them
    LapOutFra_resetForTest();
    feed(0, 5000);
    feed(0, 5010);
    EXPECT_EQ(meas_store_stats().meas_lost_frames_m01, 5u);
    MeasAppStore_closeFiles(0);
    EXPECT_TRUE(logged(takeLogTexts(), "logging: m01 block #1: 2 records of time stamps 5000 to 5010 lost: no file "
                                       "took them (the lap counters were not valid)"));
}

TEST_F(StoreTest, EveryFrameHandedOutIsRecoded) {
    // a sub-sampled frame taken without an explicit recode still reads back
    MeasFrame* f = MeasFrame_alloc(64, 4096, 4 + 2 * 2, 2);
    ASSERT_EQ(MeasFrame_HSL_calc_IndexTranslation(f, 0, 1, 0), 0);
    std::vector<std::vector<uint8_t>> values;
    for (uint32_t i = 0; i < 5; ++i) {
        values.push_back({uint8_t(i), 1, uint8_t(i), 2});
        auto r = makeRecord(100 + i, values.back());
        ASSERT_EQ(MeasFrame_put(f, r.data(), uint32_t(r.size())), 0);
    }
    uint8_t* buf = nullptr;
    uint32_t len = 0, plain = 0, packed = 0;
    ASSERT_EQ(MeasFrame_get(f, 2, &buf, &len, &plain, &packed), 0);
    EXPECT_NE(packed, 0u);
    ComposedFile file;
    MeasFileHeaderInfo hi;
    hi.numBlocks = 1;
    file.header(hi);
    file.descriptor(2, 8);
    file.opening(100, "car");
    file.append(buf, len);
    std::free(buf);
    MeasFrame_free(f);
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(file.bytes.data(), file.bytes.size(), c, err, &layouts())) << err;
    ASSERT_EQ(c.records.size(), 5u);
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(c.records[i].timeStamp, 100 + i);
        EXPECT_EQ(c.records[i].values, values[i]);
    }
}

TEST_F(StoreTest, BufferAndDataSizeStatisticsInTheSignalPage) {
    ASSERT_EQ(catalogue_init(), 1);
    ASSERT_EQ(meas_store_publishStats(), 1);
    ASSERT_NE(catalogue_addr("meas_backend_buf_cnt_ecu"), 0u);
    ASSERT_NE(catalogue_addr("meas_data_size_m01_compressed"), 0u);
    configure(2.5f);
    const uint32_t now = time_getTimestamp();
    for (uint32_t i = 0; i < 640; ++i) feed(0, now + i * 10);
    ASSERT_TRUE(waitFor(
        [&] {
            meas_store_updateBufferStats(meas[0].store, nullptr);
            return meas_store_stats().meas_pretrig_buf_cnt_ecu >= 10;
        },
        2000));
    const MeasStoreStats& s = meas_store_stats();
    EXPECT_EQ(s.meas_pretrig_buf_state_ecu, uint32_t(PRETRIG_BUFFERING));
    EXPECT_EQ(s.meas_pretrig_buf_state_fde, 0u);
    EXPECT_EQ(s.meas_data_size_m01_uncompressed, 640u * 12u);
    EXPECT_GT(s.meas_data_size_m01_compressed, 0u);
    EXPECT_LT(s.meas_data_size_m01_compressed, s.meas_data_size_m01_uncompressed);
}
