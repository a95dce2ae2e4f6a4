// Status blocks over the store's test device: the status-block module wired
// to the file store as the device wires it, lap and status-block sources,
// closed files read back.
#pragma once

#include <cstring>
#include <string>

#include "../store/store_fixture.h"
#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_system.h"
#include "logging/format/meas_dump.h"
#include "logging/statusblock/sb_internal.h"
#include "logging/statusblock/sb_lapstack.h"
#include "measurement/comint.h"
#include "platform/appman.h"
#include "platform/timebase.h"

class StatusBlockTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        savedSystem = cfg_system;
        sblk_resetForTest();
        sb_lapstack_reset_history();
        MeasAppStoreHooks h{};
        h.sbCreate = sb_create;
        h.sbCreateWrite = sb_create_write;   // as the device wires it
        MeasAppStore_setHooks(h);
    }
    void TearDown() override {
        for (auto& l : meas_app_measlist) l = nullptr;
        for (auto& b : blocks) {
            sb_per_buffer_release(b.sbBuffer);
            b.sbBuffer = nullptr;
        }
        MeasAppStore_setHooks(MeasAppStoreHooks{});
        sblk_resetForTest();
        cfg_system = savedSystem;
        app_pid = 1;
        StoreTest::TearDown();
    }

    // Adds a lap block (raster 11, block 3) and an SB-Lap block (raster 12,
    // block 4, PID 9) to m01 after configure(); both hold one 4-byte channel.
    void addSources() {
        MEASConfiguration* c = meas[0].config;
        c->blocks = static_cast<BlkInfo*>(std::realloc(c->blocks, 4 * sizeof(BlkInfo)));
        c->numBlocks = 4;
        for (unsigned i = 2; i < 4; ++i) {
            BlkInfo& k = c->blocks[i];
            k = BlkInfo{};
            k.blockNumber = uint16_t(i + 1);
            k.recordSize = 4 + 4;
            k.channelCount = 1;
            k.align4Count = 1;
            k.divider = 1;
            k.pid = 9;
            k.raster = i == 2 ? MEAS_RASTER_LAP : MEAS_RASTER_SBLAP;
            std::snprintf(k.name, sizeof k.name, "source %u", i + 1);
        }
        // the block records point into the moved array
        blocks.resize(4);
        for (unsigned i = 0; i < 4; ++i) {
            blocks[i].config = &c->blocks[i];
            // the store's record of a block points back at the block, now moved
            if (blocks[i].storeData) blocks[i].storeData->owner = &blocks[i];
        }
        for (unsigned i = 2; i < 4; ++i) {
            MeasBlock& b = blocks[i];
            b.owner = &meas[0];
            b.measIdx = 0;
            b.pid = 9;
            b.typeFlags = MEAS_BLK_SB;
            ASSERT_EQ(MeasAppStore_initData(&b, 64, 4096), 0);
            b.sbBuffer = sb_per_buffer_request(b.config->recordSize);
            meas_list_push(&meas_app_measlist[b.config->raster], &b);
        }
        meas[0].typeCounts[MEAS_CNT_LAP_STARTED] = 1;
        meas[0].typeCounts[MEAS_CNT_SBLAP_STARTED] = 1;
    }
    void source(unsigned i, uint32_t ts, uint32_t value) {
        uint8_t r[8];
        be_put32(r, ts);
        be_put32(r + 4, value);
        sb_store_block_dyn(&blocks[i], r);
    }

    // The closed files, read back; the name of the first one.
    MeasFileContent readFile(const std::string& name, std::string* listing = nullptr) {
        auto f = files("meas");
        MeasFileContent c;
        std::string err;
        EXPECT_TRUE(meas_file_read(f[name].data(), f[name].size(), c, err, &layouts())) << name << ": " << err;
        if (listing) {
            char* text = nullptr;
            size_t len = 0;
            FILE* out = open_memstream(&text, &len);
            measdump_list(c, out);
            std::fclose(out);
            *listing = std::string(text, len);
            std::free(text);
        }
        return c;
    }
    static const MeasFileMeta* lastStatusBlock(const MeasFileContent& c) {
        const MeasFileMeta* m = nullptr;
        for (const auto& it : c.items)
            if (it.kind == MeasFileItem::META && c.metas[it.index].type == MEAS_META_STATUSBLOCK) m = &c.metas[it.index];
        return m;
    }
    int checkBlock(unsigned blk) {
        std::lock_guard<std::mutex> lk(sb_lock());
        return sb_create_check_locked(blk);
    }

    cfg_system_t savedSystem{};
};
