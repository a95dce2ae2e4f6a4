// Writes binary logging configurations (".dat") the way the configuration
// tool lays them out, for the loader's tests and fuzz seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byteorder.h"
#include "platform/crc.h"

struct DatSeq {
    std::vector<uint32_t> addrs;
    uint8_t count = 1;      // elements per value (low 6 bits)
    uint8_t size = 4;       // bytes per element
    uint32_t closing = 0;
};

struct DatBlock {
    std::string name;
    uint16_t rasterCode = 0x104;
    uint64_t startMask = 0;
    uint16_t mode = 1, trueDiv = 1, falseDiv = 1, blockNumber = 1, spare = 0;
    std::vector<DatSeq> seqs;
};

struct DatCond {
    uint32_t addr;
    uint8_t typeA, typeB;   // the two type bytes as stored
};

struct DatFile {
    int version = 3;
    bool longHeaderV2 = false;     // version 2 whose CRC covers the 52-byte header
    std::string lead = "TAV9 LOGCFG";
    std::string project = "proj.tpf", asap = "a2l", pst = "pst", user = "ui";
    uint16_t protocol = 0;
    uint64_t globalMask = 0;
    uint16_t globalGiven = 0;
    std::vector<DatBlock> blocks;
    std::vector<DatCond> conds;
    bool tele = false;
    uint32_t baud = 0, projectCode = 0;
    uint8_t pause = 0, softwareId = 0;

    std::vector<uint8_t> build() const {
        const bool v3Head = version == 3 || longHeaderV2;
        std::vector<uint8_t> f(72, 0);
        for (size_t i = 0; i < lead.size() && i < 16; ++i) f[i] = uint8_t(lead[i]);
        be16(f, 16, uint16_t(version));
        be32(f, 20, text(f, project));
        be32(f, 24, text(f, asap));
        be32(f, 28, text(f, pst));
        be32(f, 32, text(f, user));
        be16(f, 38, protocol);
        be16(f, 52, uint16_t(blocks.size()));
        be16(f, 54, uint16_t(conds.size()));
        if (v3Head) {
            be32(f, 56, uint32_t(globalMask >> 32));
            be32(f, 60, uint32_t(globalMask));
            be16(f, 64, globalGiven);
        } else {
            be16(f, 56, uint16_t(globalMask));
            be16(f, 58, globalGiven);
        }
        std::vector<uint32_t> nameAt, seqAt;
        for (const DatBlock& b : blocks) nameAt.push_back(text(f, b.name));
        for (const DatBlock& b : blocks) {
            seqAt.push_back(uint32_t(f.size()));
            for (const DatSeq& s : b.seqs) {
                size_t p = grow(f, 4);
                be16(f, p, uint16_t(s.addrs.size()));
                f[p + 2] = s.count;
                f[p + 3] = s.size;
                for (uint32_t a : s.addrs) be32(f, grow(f, 4), a);
                be32(f, grow(f, 4), s.closing);
            }
        }
        be32(f, 44, uint32_t(f.size()));
        for (size_t i = 0; i < blocks.size(); ++i) {
            const DatBlock& b = blocks[i];
            size_t p = grow(f, version == 3 ? 30 : 24);
            be32(f, p, seqAt[i]);
            be32(f, p + 4, nameAt[i]);
            be16(f, p + 8, b.rasterCode);
            size_t q;
            if (version == 3) {
                be32(f, p + 10, uint32_t(b.startMask >> 32));
                be32(f, p + 14, uint32_t(b.startMask));
                q = p + 18;
            } else {
                be16(f, p + 10, uint16_t(b.startMask));
                q = p + 12;
            }
            be16(f, q, b.mode);
            be16(f, q + 2, b.trueDiv);
            be16(f, q + 4, b.falseDiv);
            be16(f, q + 6, b.blockNumber);
            be16(f, q + 8, b.spare);
            be16(f, q + 10, uint16_t(b.seqs.size()));
        }
        be32(f, 48, uint32_t(f.size()));
        for (const DatCond& c : conds) {
            size_t p = grow(f, 6);
            be32(f, p, c.addr);
            f[p + 4] = c.typeA;
            f[p + 5] = c.typeB;
            unsigned count = v3Head ? (c.typeB & 0x3F) : (c.typeA & 0x3F);
            unsigned size = v3Head ? c.typeA : c.typeB;
            unsigned vs = count * size;
            grow(f, 2 * (vs == 2 ? 2 : vs == 4 ? 4 : 1));
        }
        if (tele) {
            be32(f, 40, uint32_t(f.size()));
            size_t p = grow(f, 16);
            be32(f, p, baud);
            be32(f, p + 4, projectCode);
            f[p + 14] = pause;
            f[p + 15] = softwareId;
        }
        sealCrc(f, v3Head);
        return f;
    }

    // Stores the header CRC at 18: over bytes 0..17 and the 46 (52 with the
    // longer header) bytes after the CRC.
    static void sealCrc(std::vector<uint8_t>& f, bool longHeader) {
        uint16_t crc = crc16_ccitt_lsb_accu(f.data(), 18, 0xFFFF);
        be16(f, 18, crc16_ccitt_lsb_accu(f.data() + 20, longHeader ? 52 : 46, crc));
    }

    static size_t grow(std::vector<uint8_t>& f, size_t n) {
        size_t p = f.size();
        f.resize(p + n, 0);
        return p;
    }
    static uint32_t text(std::vector<uint8_t>& f, const std::string& s) {
        size_t p = grow(f, s.size() + 1);
        for (size_t i = 0; i < s.size(); ++i) f[p + i] = uint8_t(s[i]);
        return uint32_t(p);
    }
    static void be16(std::vector<uint8_t>& f, size_t p, uint16_t v) { be_put16(&f[p], v); }
    static void be32(std::vector<uint8_t>& f, size_t p, uint32_t v) { be_put32(&f[p], v); }
};
