// Binary logging configuration and the choice between XML and binary form.
#include "logging/config/meas_app_load.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "logging/config/cfg_meas.h"
#include "logging/config/meas_app_xml_load.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/crc.h"
#include "platform/error_mgr.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "xml/xml_file.h"

namespace {

constexpr const char* kNoCheckFile = "cfg:/no_check.xml";

uint64_t be64(const uint8_t* p) { return uint64_t(be_get32(p)) << 32 | be_get32(p + 4); }

// The file's numbers are untrusted: every read checks its room first.
struct Reader {
    const uint8_t* base;
    size_t length;
    bool fits(size_t offset, size_t bytes) const { return offset <= length && bytes <= length - offset; }
};

void refuse(const char* what, size_t offset, size_t length) {
    syslogx(147, "Measurement configuration invalid! %s outside the file (offset %zu, length %zu)", what, offset,
            length);
}

// Zero-terminated text at an offset, at most 1023 characters, never past the file.
bool copyText(const Reader& r, uint32_t offset, char* dst, const char* what) {
    if (offset >= r.length) {
        refuse(what, offset, r.length);
        return false;
    }
    size_t room = r.length - offset;
    size_t n = strnlen(reinterpret_cast<const char*>(r.base + offset), room < MEAS_NAME_LEN - 1 ? room : MEAS_NAME_LEN - 1);
    std::memcpy(dst, r.base + offset, n);
    dst[n] = 0;
    return true;
}

uint16_t crcOver(const uint8_t* buf, size_t tail) {
    uint16_t crc = crc16_ccitt_lsb_accu(buf, 18, 0xFFFF);
    return crc16_ccitt_lsb_accu(buf + 20, tail, crc);
}

}  // namespace

const uint8_t* parsePackedConst(const uint8_t* data, uint32_t size, uint32_t* value) {
    uint32_t v;
    if (size == 2) v = be_get16(data), data += 2;
    else if (size == 4) v = be_get32(data), data += 4;
    else v = data[0], data += 1;
    if (value) *value = v;
    return data;
}

int meas_app_convert_seq2MeasList(uint16_t blockNumber, const uint8_t* seqs, size_t avail, uint16_t numSeqs,
                                  BlkInfo* blk) {
    if (!blk || !seqs) {
        syslogx(147, "meas_app_convert_seq2MeasList: called with NULL pointer...");
        return -1;
    }
    Reader r{seqs, avail};
    size_t pos = 0;
    uint32_t words = 0, channels = 0, record = 4;
    int firstPid = -1;
    for (uint16_t s = 0; s < numSeqs; ++s) {
        if (!r.fits(pos, 4)) {
            refuse("copy sequence", pos, avail);
            return -1;
        }
        uint16_t n = be_get16(seqs + pos);
        uint32_t count = seqs[pos + 2] & 0x3F;
        uint32_t valueSize = seqs[pos + 3] * count;
        pos += 4;
        if (!r.fits(pos, size_t(n) * 4 + 4)) {
            refuse("copy sequence addresses", pos, avail);
            return -1;
        }
        // An empty sequence without a size adds nothing: its size word of 0
        // would end the list before the sequences that follow, whose values
        // would still be counted in the record.
        if (n == 0 && valueSize == 0) {
            pos += 4;
            continue;
        }
        // channel sizes are bytes
        if (n && (valueSize == 0 || valueSize > 255)) {
            syslogx(147, "meas_app_convert_seq2MeasList(): value size %u not supported in measblock #%d",
                    valueSize, blockNumber);
            return -1;
        }
        if (!meas_app_listFits(words + n + 3, channels + n)) {
            syslogx(147, "meas_app_convert_seq2MeasList(): measurement list too long in measblock #%d", blockNumber);
            return -1;
        }
        blk->measList[words++] = -int32_t(valueSize);
        for (uint16_t a = 0; a < n; ++a, pos += 4) {
            uint32_t addr = be_get32(seqs + pos);
            int pid = int(addr >> 24);
            if (firstPid < 0) firstPid = pid;
            else if (pid != firstPid)
                syslogx(147, "meas_app_convert_seq2MeasList(): unexpected pid id (0x%02x) measblock #%d", pid,
                        blockNumber);
            blk->pid = uint16_t(pid);
            blk->measList[words++] = int32_t(addr & 0xFFFFFF);
            blk->chanSizes[channels++] = uint8_t(valueSize);
            record += valueSize;
        }
        if (be_get32(seqs + pos) != 0)
            syslogx(147, "meas_app_convert_seq2MeasList(): no expected NULL at end of copy sequence in measblock #%d",
                    blockNumber);
        pos += 4;
        blk->measList[words++] = 0;
    }
    if (words + 1 > MEAS_LIST_WORDS) {
        syslogx(147, "meas_app_convert_seq2MeasList(): measurement list too long in measblock #%d", blockNumber);
        return -1;
    }
    blk->measList[words++] = 0;
    if (record > MEAS_RECORD_MAX) {
        syslogx(147, "meas_app_convert_seq2MeasList(): record of %u bytes exceeds the frame size in measblock #%d",
                record, blockNumber);
        return -1;
    }
    blk->listLength = 4 * words;
    blk->recordSize = record;
    blk->channelCount = channels;
    if (firstPid < 0) blk->pid = app_pid;
    blk->divider = 1;
    return 0;
}

namespace {

// " in <file>": the binary file of the measurement, for the messages on a
// damaged header ("" when the index names none).
std::string inFile(unsigned measIdx) {
    if (measIdx >= 3 || !cfg_meas[measIdx].binFile[0]) return "";
    return std::string(" in ") + cfg_meas[measIdx].binFile;
}

}  // namespace

MEASConfiguration* meas_app_load(unsigned measIdx, uint8_t* buf, size_t len) {
    if (!buf) {
        syslogx(155, "Loading measurement configuration failed");
        return nullptr;
    }
    MEASConfiguration* cfg = meas_app_alloc_MEASConfiguration();
    auto fail = [&]() -> MEASConfiguration* {
        meas_app_free_MEASConfiguration(cfg);
        std::free(buf);
        return nullptr;
    };
    if (!cfg) {
        syslogx(147, "meas_app_load: out of memory");
        std::free(buf);
        return nullptr;
    }
    const Reader r{buf, len};
    char lead[17] = {};
    std::memcpy(lead, buf, len < 16 ? len : 16);
    syslogx(158, "Loading measurement configuration %s", lead);
    if (!r.fits(0, 20)) {
        refuse("header", 0, len);
        return fail();
    }
    const int version = be_get16(buf + 16);
    const uint16_t stored = be_get16(buf + 18);
    bool v3Layout;
    int shownVersion = version;
    if (version == 2) {
        if (!r.fits(20, 46)) {
            refuse("header", 20, len);
            return fail();
        }
        uint16_t crc = crcOver(buf, 46);
        v3Layout = false;
        if (crc != stored) {
            if (r.fits(20, 52) && crcOver(buf, 52) == stored) {
                v3Layout = true;       // version-2 file with the longer header
                shownVersion = -1;
            } else {
                syslogx(147, "Measurement configuration invalid! Checksum is: %X expected: %X%s", crc, stored,
                        inFile(measIdx).c_str());
                return fail();
            }
        }
    } else if (version == 3) {
        if (!r.fits(20, 52)) {
            refuse("header", 20, len);
            return fail();
        }
        uint16_t crc = crcOver(buf, 52);
        if (crc != stored) {
            syslogx(147, "Measurement configuration invalid! Checksum is: %X expected: %X%s", crc, stored,
                    inFile(measIdx).c_str());
            return fail();
        }
        v3Layout = true;
    } else {
        syslogx(147, "Measurement configuration has invalid version, %d%s", version, inFile(measIdx).c_str());
        return fail();
    }
    syslogx(150, "Measurement configuration is valid, version %d", shownVersion);

    if (!copyText(r, be_get32(buf + 20), cfg->projectFileName, "project file name") ||
        !copyText(r, be_get32(buf + 24), cfg->asapName, "ASAP name") ||
        !copyText(r, be_get32(buf + 28), cfg->pstName, "PST name") ||
        !copyText(r, be_get32(buf + 32), cfg->userInfo, "user info"))
        return fail();
    cfg->protocol = be_get16(buf + 38);
    const uint32_t teleOffset = be_get32(buf + 40);
    const uint32_t blockTable = be_get32(buf + 44);
    const uint32_t condTable = be_get32(buf + 48);
    cfg->numBlocks = be_get16(buf + 52);
    cfg->numConditions = be_get16(buf + 54);
    if (v3Layout) {
        cfg->globalStartMask = be64(buf + 56);
        cfg->globalStartGiven = be_get16(buf + 64);
    } else {
        cfg->globalStartMask = be_get16(buf + 56);
        cfg->globalStartGiven = be_get16(buf + 58);
    }
    cfg->pretriggerTime = 0;
    if (cfg->numBlocks > MEAS_MAX_BLOCKS || cfg->numConditions > 64) {
        syslogx(147, "Measurement configuration invalid! %u blocks, %u conditions", cfg->numBlocks,
                cfg->numConditions);
        return fail();
    }

    const bool v3Blocks = version == 3;
    const size_t blkLen = v3Blocks ? 30 : 24;
    if (cfg->numBlocks) {
        if (!r.fits(blockTable, blkLen * cfg->numBlocks)) {
            refuse("block table", blockTable, len);
            return fail();
        }
        cfg->blocks = static_cast<BlkInfo*>(std::calloc(cfg->numBlocks, sizeof(BlkInfo)));
        if (!cfg->blocks) {
            syslogx(147, v3Blocks ? "out of memory, cannot allocate memor for BlkInfo #%d"
                                  : "out of memory, cannot allocate memory for BlkInfo #%d",
                    cfg->numBlocks);
            return fail();
        }
    }
    for (unsigned i = 0; i < cfg->numBlocks; ++i) {
        const uint8_t* e = buf + blockTable + i * blkLen;
        BlkInfo& b = cfg->blocks[i];
        const uint32_t seqOffset = be_get32(e);
        if (!copyText(r, be_get32(e + 4), b.name, "block name")) return fail();
        b.raster = meas_app_convraster(be_get16(e + 8));
        const uint8_t* rest;
        if (v3Blocks) {
            b.startMask = be64(e + 10);
            rest = e + 18;
        } else {
            b.startMask = v3Layout ? uint64_t(be_get16(e + 10)) << 48 : be_get16(e + 10);
            rest = e + 12;
        }
        b.modeWord = be_get16(rest);
        b.trueDivider = be_get16(rest + 2);
        b.falseDivider = be_get16(rest + 4);
        b.blockNumber = be_get16(rest + 6);
        b.spareWord = be_get16(rest + 8);
        const uint16_t numSeqs = be_get16(rest + 10);
        b.pretriggerWord = 0;
        b.teleBlockId = (version == 2 && !v3Layout) ? 0xFFFF : 0;
        if (numSeqs && seqOffset >= len) {
            refuse("copy sequences", seqOffset, len);
            return fail();
        }
        if (meas_app_convert_seq2MeasList(b.blockNumber, buf + (seqOffset < len ? seqOffset : len),
                                          seqOffset < len ? len - seqOffset : 0, numSeqs, &b) != 0)
            return fail();
    }

    if (cfg->numConditions) {
        cfg->conditions = static_cast<BlkInfo*>(std::calloc(cfg->numConditions, sizeof(BlkInfo)));
        if (!cfg->conditions) {
            syslogx(147, v3Blocks ? "out of memory, cannot allocate memory for Conds_ptr #%d"
                                  : "out of memory, cannot allocate memor for Conds_ptr #%d",
                    cfg->numConditions);
            return fail();
        }
        size_t pos = condTable;
        for (unsigned i = 0; i < cfg->numConditions; ++i) {
            if (!r.fits(pos, 6)) {
                refuse("condition table", pos, len);
                return fail();
            }
            const uint32_t addr = be_get32(buf + pos);
            uint32_t count, size;
            if (v3Layout) {
                size = buf[pos + 4];
                count = buf[pos + 5] & 0x3F;
            } else {
                count = buf[pos + 4] & 0x3F;
                size = buf[pos + 5];
            }
            const uint32_t valueSize = size * count;
            pos += 6;
            const uint32_t constBytes = valueSize == 2 ? 2 : valueSize == 4 ? 4 : 1;
            if (!r.fits(pos, 2 * constBytes)) {
                refuse("condition constants", pos, len);
                return fail();
            }
            if (valueSize == 0 || valueSize > 255) {
                syslogx(147, "Measurement configuration invalid! condition #%u value size %u", i, valueSize);
                return fail();
            }
            const uint8_t* p = parsePackedConst(buf + pos, valueSize, nullptr);
            p = parsePackedConst(p, valueSize, nullptr);
            pos = size_t(p - buf);
            BlkInfo& c = cfg->conditions[i];
            meas_app_setCondBlock(c, i, addr, valueSize, int(i));
            c.pid = uint16_t(addr >> 24);
            c.teleBlockId = 0xFFFF;
            c.raster = 0;   // the file carries none; the logging application sets it
        }
    }

    if (teleOffset) {
        if (!r.fits(teleOffset, 16)) {
            refuse("telemetry record", teleOffset, len);
            return fail();
        }
        cfg->teleInfo = static_cast<TeleInfo*>(std::calloc(1, sizeof(TeleInfo)));
        if (!cfg->teleInfo) {
            syslogx(147, "meas_app_load: out of memory");
            return fail();
        }
        cfg->teleInfoSize = TELEINFO_SIZE;
        const uint8_t* t = buf + teleOffset;
        cfg->teleInfo->baudrate = be_get32(t);
        cfg->teleInfo->projectCode = be_get32(t + 4);
        cfg->teleInfo->pause = t[14];
        cfg->teleInfo->softwareId = t[15];
    }
    syslogx(150, "Configuration based on: %s", cfg->projectFileName);
    return cfg;
}

MEASConfiguration* meas_app_get_MEASConfiguration(unsigned idx, uint32_t* size) {
    if (size) *size = 0;
    if (idx >= 3) return nullptr;
    const char* xml = cfg_meas[idx].xmlFile;
    const char* bin = cfg_meas[idx].binFile;
    // The file that is there is taken, the XML one first; one that is there
    // but cannot be read (a folder, a link that leads nowhere, too large) is
    // not stood in for by its twin.
    std::string problem = xmlFileProblem(xml);
    const char* path = xml;
    if (problem == "not found") {
        problem = xmlFileProblem(bin);
        path = bin;
    }
    if (problem == "not found") {
        if (idx == 0) {
            error_mgr_clear(ERRMGR_PATH_REC_PART_01);
            syslogx(151, "meas_app_get_MEASConfiguration file '%s' not found", xml);
        } else if (idx == 1) {
            error_mgr_clear(ERRMGR_PATH_TELEMETRY);
            syslogx(151, "meas_app_get_MEASConfiguration file '%s' not found", xml);
        }
        return nullptr;
    }
    if (idx == 1) error_mgr_clear(ERRMGR_PATH_TELEMETRY);
    if (!problem.empty()) {
        syslogx(148, "meas_app_get_MEASConfiguration file '%s' %s, measurement not loaded", path, problem.c_str());
        return nullptr;
    }
    size_t len = 0;
    char* text = fload(path, &len);
    if (size) *size = uint32_t(len);
    if (!text) return nullptr;
    if (path == xml) {
        char* unchecked = nullptr;
        const std::string noCheck = xmlFileProblem(kNoCheckFile);
        if (noCheck.empty())
            unchecked = fload(kNoCheckFile, nullptr);
        else if (noCheck == "not found")
            syslogx(151, "meas_app_get_MEASConfiguration file '%s' not found", kNoCheckFile);
        else
            syslogx(148, "meas_app_get_MEASConfiguration file '%s' %s, not used", kNoCheckFile, noCheck.c_str());
        MEASConfiguration* cfg = meas_app_xml_load(idx, text, unchecked, path);
        std::free(text);
        std::free(unchecked);
        return cfg;
    }
    MEASConfiguration* cfg = meas_app_load(idx, reinterpret_cast<uint8_t*>(text), len);
    if (cfg) std::free(text);
    return cfg;
}
