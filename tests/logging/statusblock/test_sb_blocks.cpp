// Status blocks written into the files of the store: the image and its lap
// stack, the wait for the lap-stack controller, a busy block, the version
// table, and the single records of lap and status-block sources.
#include <gtest/gtest.h>

#include "sb_fixture.h"

namespace {

std::string textAt(const std::vector<uint8_t>& p, size_t at) {
    return at < p.size() ? std::string(reinterpret_cast<const char*>(p.data() + at)) : std::string();
}

}  // namespace

TEST_F(StatusBlockTest, ClosingFileEndsWithStatusBlockAndItsLapStack) {
    cfg_system.fuelPid = 0xFFFF;
    cfg_system.ecuClass = 0;
    sb_lapstack_add_entry(3, 8345, 2.345f);
    configure();
    feed(0, 1000);
    feed(1, 1000);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    feed(1, 1510);   // the first file closes with a lap block
    closeAndDrain();
    auto f = files("meas");
    ASSERT_EQ(f.size(), 2u);
    std::string listing;
    MeasFileContent c = readFile(f.begin()->first, &listing);
    ASSERT_FALSE(c.items.empty());
    const MeasFileItem& last = c.items.back();
    ASSERT_EQ(last.kind, MeasFileItem::META);
    const std::vector<uint8_t>& p = c.metas[last.index].payload;
    ASSERT_EQ(c.metas[last.index].type, MEAS_META_STATUSBLOCK);

    EXPECT_EQ(textAt(p, 0), "StateData V");
    EXPECT_EQ(be_get32(p.data() + 12), 0xFFFFFFFFu);
    EXPECT_EQ(p[16], 0x00);
    EXPECT_EQ(p[17], 0x02);
    EXPECT_EQ(be_get16(p.data() + 22), 0x0FDE);   // no ECU class
    EXPECT_EQ(be_get16(p.data() + 32), PCODE());
    EXPECT_EQ(be_get16(p.data() + 34), uint16_t(~PCODE()));
    EXPECT_EQ(be_get16(p.data() + 20) + 20u, p.size());
    const size_t page = be_get16(p.data() + 86) + 20u;
    EXPECT_EQ(textAt(p, page - 8), "PAGE_01");
    EXPECT_EQ(textAt(p, page + 416), "KORVA " + std::string(get_external_name()));
    EXPECT_EQ(textAt(p, page + 448), f.begin()->first);
    EXPECT_EQ(textAt(p, page + 528), "store test");
    EXPECT_EQ(textAt(p, page + 1024), std::string(seramGetEPKPtr()).substr(0, 31));
    EXPECT_EQ(textAt(p, page + 32), std::string(seramGetEPKPtr()).substr(0, 31));   // this device's entry
    const size_t lap = be_get16(p.data() + 68) + 20u;
    EXPECT_EQ(be_get16(p.data() + 90) + 20u, lap);
    EXPECT_EQ(textAt(p, lap - 8), "LAP_STK");
    ASSERT_EQ(be_get16(p.data() + lap), 1);
    EXPECT_EQ(p[lap + 2], 3);
    EXPECT_EQ(p[lap + 3], 1);
    EXPECT_EQ(p[lap + 4], 23);
    EXPECT_EQ(p[lap + 5], 45);
    EXPECT_EQ(be_get16(p.data() + lap + 6), 235);
    EXPECT_EQ(textAt(p, lap + 8), "LAP_END");
    EXPECT_NE(listing.find("(status block)"), std::string::npos);
    EXPECT_NE(listing.find("lap stack 1: lap 3 1:23.45 fuel 2.35"), std::string::npos) << listing;
}

TEST_F(StatusBlockTest, LapBlockWaitsForTheLapStackControllerAndSecondRequestIsBusy) {
    cfg_system.fuelPid = 10;
    configure();
    feed(0, 1000);
    feed(1, 1000);
    sblk_task_laptrigger(5, 1, 8345, 1500);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    feed(1, 1510);   // waits for PID 10
    EXPECT_EQ(checkBlock(0), 2);
    EXPECT_TRUE(sblk_task_fast.load());

    MeasAppStore_SbRequest other{};
    std::snprintf(other.fileName, sizeof other.fileName, "OTHER");
    EXPECT_EQ(sb_create(&other, SB_LAPTRIG, 0), 3);
    EXPECT_TRUE(logged(takeLogTexts(), "sb_create(): busy / not finished yet, no LAP SB for 'OTHER', status 4000"));

    ci_msg_t m{};
    ci_init_msg(&m, CI_CMD_LAPSTACK_INFO, 1, 16);
    ci_set_src(&m, 11);   // not a lap-stack controller
    be_putf(m.payload + 4, 2.345f);
    EXPECT_EQ(ci_get_lapstack_info(&m), 1);
    EXPECT_EQ(checkBlock(0), 2);
    ci_set_src(&m, 10);
    ci_set_len(&m, 1);    // too short: nothing
    EXPECT_EQ(ci_get_lapstack_info(&m), 0);
    ci_set_len(&m, 16);
    EXPECT_EQ(ci_get_lapstack_info(&m), 1);
    EXPECT_EQ(ci_get_lapstack_info(&m), 1);   // a repeated answer adds no second entry
    EXPECT_EQ(checkBlock(0), 1);
    EXPECT_FALSE(sblk_task_fast.load());

    closeAndDrain();
    std::string listing;
    readFile(files("meas").begin()->first, &listing);
    EXPECT_NE(listing.find("lap stack 1: lap 5 1:23.45 fuel 2.35"), std::string::npos) << listing;
}

TEST_F(StatusBlockTest, SilentControllerCostsOnlyTheFuelValue) {
    cfg_system.fuelPid = 10;
    configure();
    feed(0, 1000);
    sblk_task_laptrigger(6, 1, 100, 1500);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    EXPECT_EQ(checkBlock(0), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(520));
    EXPECT_EQ(checkBlock(0), 1);
    closeAndDrain();
    std::string listing;
    readFile(files("meas").begin()->first, &listing);
    EXPECT_NE(listing.find("lap stack 1: lap 6 0:01.00 fuel 0.00"), std::string::npos) << listing;
}

TEST_F(StatusBlockTest, VersionTableInPidOrder) {
    {
        std::lock_guard<std::mutex> lk(sb_lock());
        sb_init_all_locked();
    }
    auto reply = [](uint16_t pid, const char* text) {
        ci_msg_t m{};
        ci_init_msg(&m, CI_CMD_VERSION_INFO_REPLY, 1, 32);
        ci_set_src(&m, pid);
        std::strncpy(reinterpret_cast<char*>(m.payload), text, 32);
        return ci_get_version_info_reply(&m);
    };
    EXPECT_EQ(reply(7, "seven"), 1);
    EXPECT_EQ(reply(3, "three"), 1);
    EXPECT_EQ(reply(5, "five"), 1);
    EXPECT_EQ(reply(3, "three again"), 1);
    EXPECT_EQ(reply(0, "nobody"), 0);
    const SbVersionEntry* v = sb_state().versions;
    std::vector<std::pair<unsigned, std::string>> got;
    for (size_t i = 0; i < SB_VERSION_ENTRIES && v[i].pid != 0xFFFF; ++i) got.emplace_back(v[i].pid, v[i].text);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], (std::pair<unsigned, std::string>{1, std::string(seramGetEPKPtr()).substr(0, 31)}));
    EXPECT_EQ(got[1], (std::pair<unsigned, std::string>{3, "three again"}));
    EXPECT_EQ(got[2].first, 5u);
    EXPECT_EQ(got[3].first, 7u);
    for (uint16_t pid = 10; pid < 20; ++pid) reply(pid, "more");   // a full table keeps the lowest ten
    EXPECT_EQ(v[SB_VERSION_ENTRIES - 1].pid, 15);

    char text[32];
    app_pid = 45;
    sb_own_version_text(text);
    EXPECT_EQ(std::string(text), ("R " + std::string(seramGetEPKPtr())).substr(0, 31));
}

TEST_F(StatusBlockTest, LapAndStatusBlockSourcesGoIntoTheFile) {
    cfg_system.fuelPid = 0xFFFF;
    configure();
    addSources();
    feed(0, 1000);
    sblk_task_laptrigger(2, 1, 6000, 1500);
    source(2, 1500, 0x11223344);   // lap data of this lap
    source(3, 0, 0x01010101);      // periodic data, stamped now
    source(3, 1499, 0x55667788);   // SB data of another time: replaces it, then discarded
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    EXPECT_EQ(checkBlock(0), 2);   // the SB-Lap source has not delivered this lap
    source(3, 1500, 0x0A0B0C0D);
    source(3, 0, 0x0E0E0E0E);      // periodic data may not replace locked lap data
    EXPECT_TRUE(logged(takeLogTexts(),
                       "sb_store_block_dyn(): prevent overwrite of locked data: source 4 PID: 0x9, BLK #4, Ch #1, TS 0"));
    EXPECT_EQ(checkBlock(0), 1);
    closeAndDrain();
    MeasFileContent c = readFile(files("meas").begin()->first);
    std::map<uint8_t, std::vector<std::pair<uint32_t, uint32_t>>> rec;
    for (const auto& r : c.records)
        if (r.blockId >= 3) rec[r.blockId].emplace_back(r.timeStamp, be_get32(r.values.data()));
    EXPECT_EQ(rec[3], (std::vector<std::pair<uint32_t, uint32_t>>{{1500, 0x11223344}}));
    EXPECT_EQ(rec[4], (std::vector<std::pair<uint32_t, uint32_t>>{{1500, 0x0A0B0C0D}}));
    // both before the status block
    ASSERT_TRUE(lastStatusBlock(c));
    EXPECT_EQ(c.items.back().kind, MeasFileItem::META);
}

TEST_F(StatusBlockTest, PeriodicSourceDataPutStatusBlocksIntoTheOpenFile) {
    cfg_system.fuelPid = 0xFFFF;
    sb_lapstack_add_entry(7, 9000, 1.5f);
    configure();
    addSources();
    meas[0].typeCounts[MEAS_CNT_LAP_STARTED] = 0;   // only the SB-Lap source delivers
    // the SB-Lap source delivers periodically (time stamp 0) while data flows
    for (uint32_t ts = 1000; ts < 1400; ts += 100) {
        feed(0, ts);
        source(3, 0, ts);
    }
    feed(0, 1400);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    closeAndDrain();
    auto f = files("meas");
    ASSERT_EQ(f.size(), 2u);
    std::string listing;
    MeasFileContent c = readFile(f.begin()->first, &listing);
    // positions of the status blocks and of the last data frame of block 1
    std::vector<size_t> blocksAt;
    size_t lastData = 0;
    for (size_t i = 0; i < c.items.size(); ++i) {
        const MeasFileItem& it = c.items[i];
        if (it.kind == MeasFileItem::META && c.metas[it.index].type == MEAS_META_STATUSBLOCK) blocksAt.push_back(i);
        else if (it.kind != MeasFileItem::META) lastData = i;
    }
    ASSERT_EQ(blocksAt.size(), 5u) << "four periodic blocks and the closing one\n" << listing;
    EXPECT_LT(blocksAt.front(), lastData) << "the first periodic block lies before data of the file";
    EXPECT_EQ(blocksAt.back(), c.items.size() - 1) << "the file still ends with its closing block";
    // each periodic one is a whole status block with the lap stack
    const std::vector<uint8_t>& p = c.metas[c.items[blocksAt.front()].index].payload;
    EXPECT_EQ(textAt(p, 0), "StateData V");
    EXPECT_EQ(be_get16(p.data() + 20) + 20u, p.size());
    const size_t lap = be_get16(p.data() + 68) + 20u;
    ASSERT_EQ(be_get16(p.data() + lap), 1);
    EXPECT_EQ(p[lap + 2], 7);
    const size_t page = be_get16(p.data() + 86) + 20u;
    EXPECT_EQ(textAt(p, page + 448), f.begin()->first);
    size_t shown = 0;
    for (size_t at = listing.find("lap stack 1: lap 7 1:30.00"); at != std::string::npos;
         at = listing.find("lap stack 1: lap 7 1:30.00", at + 1))
        ++shown;
    EXPECT_EQ(shown, 5u) << listing;
}

TEST_F(StatusBlockTest, PeriodicStatusBlocksNeedARunningStoreAndAnOpenFile) {
    cfg_system.fuelPid = 0xFFFF;
    configure();
    addSources();
    meas[0].typeCounts[MEAS_CNT_LAP_STARTED] = 0;   // only the SB-Lap source delivers
    source(3, 0, 1);   // no file open yet: nothing to write into
    feed(0, 1000);
    MeasAppStore_SbRequest none{};
    none.vfIdx = -1;
    EXPECT_EQ(sb_create_write(&none, SB_PERIOD, 0), 0);
    EXPECT_EQ(sb_create_write(nullptr, SB_PERIOD, 0), 0);
    EXPECT_EQ(sb_create_write(&none, SB_PERIOD, 7), 0);
    closeAndDrain();
    source(3, 0, 2);   // the file has ended
    MeasFileContent c = readFile(files("meas").begin()->first);
    size_t n = 0;
    for (const auto& it : c.items) n += it.kind == MeasFileItem::META && c.metas[it.index].type == MEAS_META_STATUSBLOCK;
    EXPECT_EQ(n, 1u) << "only the closing block";
}

namespace {
// as the device network reports them: bit n for PID n
uint64_t peersTwoAndThree() { return (1u << 2) | (1u << 3); }
}  // namespace

TEST_F(StatusBlockTest, SilentOrUnreachablePeersDoNotCostTheStatusBlock) {
    cfg_system.fuelPid = 0xFFFF;
    {
        // PID 3 was asked and stays silent; PID 2 cannot be reached (no route)
        std::lock_guard<std::mutex> lk(sb_lock());
        sb_init_all_locked();
        sb_state().versionAsked |= 1u << 2;
        sblk_setConnectMaskSource(peersTwoAndThree);
        sb_check_vers_info_locked();
        EXPECT_EQ(sb_state().versionAsked, 1u << 2);
        EXPECT_EQ(sb_state().versionUnreachable, 1u << 1);
        EXPECT_TRUE(sb_state().status & SB_ST_VERSIONS_PENDING);
    }
    configure();
    feed(0, 1000);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);
    EXPECT_EQ(checkBlock(0), 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(520));
    EXPECT_EQ(checkBlock(0), 1);
    auto log = takeLogTexts();
    bool timeout = false;
    for (const auto& l : log) timeout |= l.find("data timeout, static part of statusblock generated(laptrig)!") != std::string::npos;
    EXPECT_TRUE(timeout);
    closeAndDrain();
    std::string listing;
    MeasFileContent c = readFile(files("meas").begin()->first, &listing);
    EXPECT_TRUE(lastStatusBlock(c));
    EXPECT_EQ(c.items.back().kind, MeasFileItem::META);
}

TEST_F(StatusBlockTest, TaskFinishesWaitingBlockOnFastWakesAndThenSlowsDown) {
    cfg_system.fuelPid = 10;
    ASSERT_EQ(sblk_task_init("r_sblk_task", 130, 12288, 0), 1);
    configure();
    feed(0, 1000);
    sblk_task_laptrigger(8, 1, 4200, 1500);
    LapOutFra_setFragmentTrig(1500);
    feed(0, 1510);   // waits for PID 10, which never answers
    EXPECT_TRUE(sblk_task_fast.load());
    sblk_task_trigger_slow();   // not in slow mode: no effect
    // the 5 ms raster wakes the task until the block is written
    ASSERT_TRUE(waitFor(
        [] {
            sblk_task_trigger_fast();
            return !sblk_task_fast.load();
        },
        3000));
    closeAndDrain();
    std::string listing;
    readFile(files("meas").begin()->first, &listing);
    EXPECT_NE(listing.find("lap stack 1: lap 8 0:42.00 fuel 0.00"), std::string::npos) << listing;
}
