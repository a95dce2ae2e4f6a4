// FIFO modes, validity, the magic table and two-thread runs of a queue and
// of newest-value buffers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "measurement/dynkomm.h"

namespace {
dynkomm_fifo_t* makeFifo(uint16_t slots, uint16_t size, uint16_t mode) {
    uint32_t m = dynkomm_get_magic();
    dynkomm_fifo_prepare(m);
    return dynkomm_fifo_create(m, 1, 0, 1, 3, slots, size, mode);
}
void put(dynkomm_fifo_t* f, uint32_t v) {
    uint8_t* s = dynkomm_write(f);
    ASSERT_NE(s, nullptr);
    std::memcpy(s, &v, 4);
    dynkomm_writedone(f);
}
uint32_t take(dynkomm_fifo_t* f) {
    uint8_t* s = dynkomm_read(f);
    if (!s) return 0xFFFFFFFF;
    uint32_t v;
    std::memcpy(&v, s, 4);
    dynkomm_readdone(f);
    return v;
}
}  // namespace

class DynkommTest : public ::testing::Test {
protected:
    void SetUp() override { dynkomm_init(0xAB); }
};

TEST_F(DynkommTest, QueueRefusesWriterWhenFullAndReaderTakesOldest) {
    dynkomm_fifo_t* f = makeFifo(4, 4, DYNKOMM_MODE_QUEUE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->valid, DYNKOMM_VALID);
    EXPECT_EQ(f->slotcount, 4);
    EXPECT_EQ(f->slotmask, 3);
    for (uint32_t i = 1; i <= 4; ++i) put(f, i);
    EXPECT_EQ(dynkomm_write(f), nullptr);
    EXPECT_EQ(take(f), 1u);
    put(f, 5);   // room again after one read
    for (uint32_t i = 2; i <= 5; ++i) EXPECT_EQ(take(f), i);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    dynkomm_fifo_delete(f);
}

TEST_F(DynkommTest, BufferReaderTakesNewestAndWriterNeverWaits) {
    dynkomm_fifo_t* f = makeFifo(4, 4, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    for (uint32_t i = 1; i <= 9; ++i) put(f, i);
    EXPECT_EQ(take(f), 9u);
    EXPECT_EQ(dynkomm_read(f), nullptr);   // nothing new
    put(f, 10);
    put(f, 11);
    EXPECT_EQ(take(f), 11u);

    // the reader reads the newest slot in place: however far the writer
    // goes on meanwhile, that slot keeps its value until it is released
    put(f, 12);
    const uint8_t* held = dynkomm_read(f);
    ASSERT_NE(held, nullptr);
    for (uint32_t i = 13; i <= 22; ++i) {
        put(f, i);
        uint32_t v;
        std::memcpy(&v, held, 4);
        EXPECT_EQ(v, 12u) << "after writing " << i;
    }
    dynkomm_readdone(f);
    EXPECT_EQ(take(f), 22u);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    put(f, 23);
    EXPECT_EQ(take(f), 23u);
    dynkomm_fifo_delete(f);
}

TEST_F(DynkommTest, BrokenOffWriteKeepsTheNewestWholeValue) {
    for (uint16_t slots : {2, 4}) {
        SCOPED_TRACE(slots);
        dynkomm_fifo_t* f = makeFifo(slots, 4, 0);
        ASSERT_NE(f, nullptr);
        put(f, 1);
        put(f, 2);
        put(f, 3);
        uint8_t* s = dynkomm_write(f);   // a write that never completes
        ASSERT_NE(s, nullptr);
        std::memset(s, 0xEE, 4);
        EXPECT_EQ(take(f), 3u);
        EXPECT_EQ(dynkomm_read(f), nullptr);   // nothing was published
        s = dynkomm_write(f);                  // the next write completes
        ASSERT_NE(s, nullptr);
        uint32_t v = 4;
        std::memcpy(s, &v, 4);
        dynkomm_writedone(f);
        EXPECT_EQ(take(f), 4u);

        // the reader holds an older value while two newer ones are written:
        // it keeps its slot, and the newest of them is what it reads next
        put(f, 5);
        const uint8_t* held = dynkomm_read(f);
        ASSERT_NE(held, nullptr);
        put(f, 6);
        put(f, 7);
        std::memcpy(&v, held, 4);
        EXPECT_EQ(v, 5u);
        dynkomm_readdone(f);
        EXPECT_EQ(take(f), 7u);
        dynkomm_fifo_delete(f);
    }
}

TEST_F(DynkommTest, WrongValidityWordRefusesBothSides) {
    dynkomm_fifo_t* f = makeFifo(2, 4, DYNKOMM_MODE_QUEUE);
    put(f, 7);
    f->valid = 0xA711;
    EXPECT_EQ(dynkomm_write(f), nullptr);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    EXPECT_EQ(dynkomm_write(nullptr), nullptr);
    f->valid = DYNKOMM_VALID;
    dynkomm_fifo_delete(f);
}

TEST_F(DynkommTest, SlotCountIsRoundedToPowerOfTwo) {
    dynkomm_fifo_t* f = makeFifo(5, 3, DYNKOMM_MODE_QUEUE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->slotcount, 8);
    EXPECT_EQ(f->slotmask, 7);
    dynkomm_fifo_delete(f);
}

TEST_F(DynkommTest, MagicTableStatesAndBootByte) {
    uint32_t m = dynkomm_get_magic();
    EXPECT_EQ(m >> 24, 0xABu);
    EXPECT_NE(m & 0xFFFFFF, 0u);
    // create needs a prepared entry
    EXPECT_EQ(dynkomm_fifo_create(m, 1, 0, 1, 0, 4, 4, 0), nullptr);
    EXPECT_EQ(dynkomm_fifo_create(0x77000001, 1, 0, 1, 0, 4, 4, 0), nullptr);
    dynkomm_fifo_prepare(m);
    EXPECT_EQ(dynkomm_magic_state(m), DYNKOMM_PREPARED);
    dynkomm_fifo_t* f = dynkomm_fifo_create(m, 1, 0, 1, 0, 4, 4, 0);
    ASSERT_NE(f, nullptr);
    dynkomm_fifo_t* got = nullptr;
    EXPECT_EQ(dynkomm_get_fifo(m, &got), 1);
    EXPECT_EQ(got, f);
    dynkomm_fifo_set(m, nullptr);
    EXPECT_EQ(dynkomm_get_fifo(m, &got), 2);
    dynkomm_fifo_delete(f);
    dynkomm_free_magic(m);
    EXPECT_EQ(dynkomm_get_fifo(m, &got), 0);
    EXPECT_EQ(dynkomm_get_fifo(0, &got), 0);
}

TEST_F(DynkommTest, FreedMagicIsNotReusedDuringDeletionDelayAndTableCanRunOut) {
    std::vector<uint32_t> all;
    for (unsigned i = 0; i < DYNKOMM_MAGIC_ENTRIES; ++i) {
        uint32_t m = dynkomm_get_magic();
        if (!m) break;
        all.push_back(m);
    }
    EXPECT_EQ(all.size(), DYNKOMM_MAGIC_ENTRIES);
    EXPECT_EQ(dynkomm_get_magic(), 0u);     // exhausted
    dynkomm_free_magic(all[10]);
    EXPECT_EQ(dynkomm_get_magic(), 0u);     // still within the deletion delay
    dynkomm_free_magic_direct(all[11]);
    uint32_t again = dynkomm_get_magic();
    EXPECT_NE(again, 0u);
    EXPECT_NE(again, all[11]);              // a new running counter, same table slot
    EXPECT_EQ(again & 0xFFFF, all[11] & 0xFFFF);
}

TEST_F(DynkommTest, SerNetSlotNumbersAndHooksWithoutNetwork) {
    EXPECT_EQ(dynkomm_getslotnum_SerNet(0), 512u);
    EXPECT_EQ(dynkomm_getslotnum_SerNet(16), 512u);
    EXPECT_EQ(dynkomm_getslotnum_SerNet(1), 256u);
    EXPECT_EQ(dynkomm_getslotnum_SerNet(3), 64u);
    EXPECT_EQ(dynkomm_getslotnum_SerNet(8), 4u);
    EXPECT_EQ(dynkomm_getslotnum_SerNet(9), 2u);
    EXPECT_EQ(dynkomm_getslotnum_SerNet(11), 2u);
    dynkomm_set_sernet_hooks(nullptr);
    EXPECT_EQ(dynkomm_fifo_link(nullptr), 0);
    EXPECT_EQ(dynkomm_fifo_reserve(1, 2), 0);
    EXPECT_EQ(dynkomm_fifo_unlink(nullptr) + dynkomm_fifo_free(nullptr), 0);
}

namespace {
int gReleased = 0;
int releaseLikeTheNetwork(dynkomm_fifo_t* f) {
    ++gReleased;
    f->valid = 0xDEAD;
    std::free(f);
    return 1;
}
}  // namespace

TEST_F(DynkommTest, ReleasedFifoIsForgottenByItsMagic) {
    // Without the network the FIFO layer frees; with it, the network's release
    // does. Either way the magic no longer hands the FIFO out.
    dynkomm_fifo_t* f = makeFifo(4, 8, DYNKOMM_MODE_QUEUE);
    ASSERT_NE(f, nullptr);
    uint32_t m = f->magic;
    dynkomm_fifo_unlink(f);
    EXPECT_EQ(dynkomm_get_fifo(m, nullptr), 2);

    dynkomm_sernet_hooks hooks{};
    hooks.release_fifo = releaseLikeTheNetwork;
    hooks.delete_sink = releaseLikeTheNetwork;
    dynkomm_set_sernet_hooks(&hooks);
    gReleased = 0;
    for (int i = 0; i < 2; ++i) {
        f = makeFifo(4, 8, 0);
        ASSERT_NE(f, nullptr);
        m = f->magic;
        if (i == 0) dynkomm_fifo_unlink(f);
        else dynkomm_fifo_free(f);
        EXPECT_EQ(dynkomm_get_fifo(m, nullptr), 2);
    }
    EXPECT_EQ(gReleased, 2);
    dynkomm_set_sernet_hooks(nullptr);
}

TEST_F(DynkommTest, TwoThreadsMillionSlotsLoseAndReorderNothing) {
    dynkomm_fifo_t* f = makeFifo(64, 8, DYNKOMM_MODE_QUEUE);
    ASSERT_NE(f, nullptr);
    constexpr uint32_t kN = 1000000;
    std::thread writer([f] {
        for (uint32_t i = 0; i < kN;) {
            uint8_t* s = dynkomm_write(f);
            if (!s) {
                std::this_thread::yield();
                continue;
            }
            uint32_t check = ~i;
            std::memcpy(s, &i, 4);
            std::memcpy(s + 4, &check, 4);
            dynkomm_writedone(f);
            ++i;
        }
    });
    uint32_t expect = 0, errors = 0;
    while (expect < kN) {
        uint8_t* s = dynkomm_read(f);
        if (!s) {
            std::this_thread::yield();
            continue;
        }
        uint32_t v, check;
        std::memcpy(&v, s, 4);
        std::memcpy(&check, s + 4, 4);
        if (v != expect || check != ~expect) ++errors;
        dynkomm_readdone(f);
        ++expect;
    }
    writer.join();
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(dynkomm_read(f), nullptr);
    dynkomm_fifo_delete(f);
}

// A writer and a reader of a newest-value buffer on two threads: every slot
// the reader is given holds one whole value and keeps it while held, and
// the values come newest-first (never an older one after a newer).
TEST_F(DynkommTest, TwoThreadsBufferReaderNeverSeesASlotBeingWritten) {
    constexpr uint32_t kN = 200000;
    constexpr unsigned kWords = 16;
    for (uint16_t slots : {2, 4}) {
        SCOPED_TRACE(slots);
        dynkomm_fifo_t* f = makeFifo(slots, 4 * kWords, 0);
        ASSERT_NE(f, nullptr);
        std::atomic<bool> done{false};
        std::atomic<uint32_t> refused{0};
        std::thread writer([f, &done, &refused] {
            for (uint32_t i = 1; i <= kN; ++i) {
                uint8_t* s = dynkomm_write(f);
                if (!s) {   // a buffer's writer never waits
                    ++refused;
                    continue;
                }
                for (unsigned w = 0; w < kWords; ++w) std::memcpy(s + 4 * w, &i, 4);
                dynkomm_writedone(f);
            }
            done = true;
        });
        uint32_t reads = 0, torn = 0, changed = 0, backwards = 0, last = 0;
        for (;;) {
            const bool finished = done;
            uint8_t* s = dynkomm_read(f);
            if (!s) {
                if (finished) break;
                std::this_thread::yield();
                continue;
            }
            ++reads;
            uint32_t v;
            std::memcpy(&v, s, 4);
            for (unsigned w = 1; w < kWords; ++w) {
                uint32_t x;
                std::memcpy(&x, s + 4 * w, 4);
                if (x != v) ++torn;
            }
            for (int again = 0; again < 4; ++again) {   // held a little while
                uint32_t x;
                std::memcpy(&x, s + 4 * (kWords - 1), 4);
                if (x != v) ++changed;
            }
            if (v <= last) ++backwards;
            last = v;
            dynkomm_readdone(f);
        }
        writer.join();
        EXPECT_GT(reads, 0u);
        EXPECT_EQ(refused.load(), 0u);
        EXPECT_EQ(torn, 0u);
        EXPECT_EQ(changed, 0u);
        EXPECT_EQ(backwards, 0u);
        EXPECT_EQ(last, kN);   // the last value written is the last one read
        dynkomm_fifo_delete(f);
    }
}
