// XML logging configuration reader.
#include "logging/config/meas_app_xml_load.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "measurement/chandata.h"
#include "platform/syslogx.h"
#include "xml/xml.h"

namespace {

bool is(const XmlTok_t& t, int kind, const char* name) { return t.kind == kind && t.name == name; }
bool isStart(const XmlTok_t& t) { return t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR; }

void copyText(char* dst, const char* src) {
    std::snprintf(dst, MEAS_NAME_LEN, "%s", src);
}

}  // namespace

measAppXmlLoad::measAppXmlLoad() = default;

measAppXmlLoad::~measAppXmlLoad() {
    delete scan_;
    delete uncheckedScan_;
    delete rootParser_;
    delete nameParser_;
    delete globCondParser_;
    delete pretrigParser_;
    delete blockParser_;
    delete seqParser_;
    delete adrParser_;
    delete condParser_;
    delete teleParser_;
    delete rasterTab_;
    delete teleModeTab_;
    meas_app_free_MEASConfiguration(cfg_);
}

void measAppXmlLoad::createParsers() {
    rasterTab_ = new XmlVTabParser(19);
    static const struct { const char* word; int value; } rasters[] = {
        {"RNone", 19}, {"R5us", 14}, {"R10us", 15}, {"R50us", 16}, {"R100us", 17}, {"R500us", 18},
        {"R1ms", 0},   {"R2ms", 1},  {"R5ms", 2},   {"R10ms", 3},  {"R20ms", 4},   {"R50ms", 5},
        {"R100ms", 6}, {"R200ms", 7}, {"R500ms", 8}, {"R1s", 9},   {"RSYNC", 10},  {"RLAP", 11},
        {"RLAP_SB", 12}};
    for (const auto& r : rasters) rasterTab_->addPair(r.word, r.value);
    teleModeTab_ = new XmlVTabParser(3);
    teleModeTab_->addPair("RW37", 0);
    teleModeTab_->addPair("GSM", 1);
    teleModeTab_->addPair("ETHERNET", 2);

    rootParser_ = new XmlTagParser(5);
    rootParser_->addAttribute("ident", text_, sizeof text_, XML_STRING, 0);
    rootParser_->addAttribute("num_blocks", &numBlocks_, sizeof numBlocks_, XML_INT, 0);
    rootParser_->addAttribute("num_conditions", &numConditions_, sizeof numConditions_, XML_INT, 0);
    rootParser_->addAttribute("version", &version_, sizeof version_, XML_INT, 0);
    rootParser_->addAttribute("protocol", &protocol_, sizeof protocol_, XML_INT, 0);

    nameParser_ = new XmlTagParser(1);
    nameParser_->addAttribute("name", text_, sizeof text_, XML_STRING, 0);

    globCondParser_ = new XmlTagParser(1);
    globCondParser_->addAttribute("idx", &idx_, sizeof idx_, XML_INT, 0);

    pretrigParser_ = new XmlTagParser(1);
    pretrigParser_->addAttribute("time", &time_, sizeof time_, XML_FLOAT, 0);

    teleParser_ = new XmlTagParser(8);
    teleParser_->addAttribute("baudrate", &baud_, sizeof baud_, XML_UINT, 0);
    teleParser_->addAttribute("pause", &pause_, sizeof pause_, XML_UINT, 0);
    teleParser_->addAttribute("projectCode", &projectCode_, sizeof projectCode_, XML_HEX, 0);
    teleParser_->addAttribute("SoftwareID", &softwareId_, sizeof softwareId_, XML_HEX, 0);
    teleParser_->addAttribute("TelePort", &telePort_, sizeof telePort_, XML_UINT, 1);
    teleParser_->addAttribute("TeleIp", teleIp_, sizeof teleIp_, XML_STRING, 1);
    teleParser_->addAttribute("DataRate", &dataRate_, sizeof dataRate_, XML_UINT, 1);
    teleParser_->addAttributeVTab("TelemetrieMode", teleModeTab_, &teleMode_, sizeof teleMode_, 1);

    blockParser_ = new XmlTagParser(8);
    blockParser_->addAttribute("name", text_, sizeof text_, XML_STRING, 0);
    blockParser_->addAttribute("idx", &idx_, sizeof idx_, XML_INT, 0);
    blockParser_->addAttribute("cond_id", &condId_, sizeof condId_, XML_INT, 1);
    blockParser_->addAttribute("num_seqs", &num_, sizeof num_, XML_INT, 0);
    blockParser_->addAttribute("true_div", &trueDiv_, sizeof trueDiv_, XML_INT, 0);
    blockParser_->addAttribute("false_div", &falseDiv_, sizeof falseDiv_, XML_INT, 0);
    blockParser_->addAttributeVTab("Raster", rasterTab_, &raster_, sizeof raster_, 0);
    blockParser_->addAttribute("tele_blk", &teleBlk_, sizeof teleBlk_, XML_INT, 1);

    seqParser_ = new XmlTagParser(4);
    seqParser_->addAttribute("align", &align_, sizeof align_, XML_INT, 0);
    seqParser_->addAttribute("size", &size_, sizeof size_, XML_INT, 0);
    seqParser_->addAttribute("num", &num_, sizeof num_, XML_INT, 0);
    seqParser_->addAttribute("idx", &idx_, sizeof idx_, XML_INT, 0);

    adrParser_ = new XmlTagParser(2);
    adrParser_->addAttribute("adr", &adr_, sizeof adr_, XML_HEX, 0);
    adrParser_->addAttribute("idx", &idx_, sizeof idx_, XML_INT, 0);

    condParser_ = new XmlTagParser(4);
    condParser_->addAttribute("adr", &adr_, sizeof adr_, XML_HEX, 0);
    condParser_->addAttribute("idx", &idx_, sizeof idx_, XML_INT, 0);
    condParser_->addAttribute("size", &size_, sizeof size_, XML_INT, 0);
    condParser_->addAttribute("pretrigger", &pretrigger_, sizeof pretrigger_, XML_INT, 0);
}

void measAppXmlLoad::expectEmpty(int kind) {
    if (kind != XML_TOK_EMPTY_END) throw XmlError("/> expected", *scan_);
}

void measAppXmlLoad::expectContent(int kind) {
    if (kind != XML_TOK_ATTR_END) throw XmlError("> expected", *scan_);
}

MEASConfiguration* measAppXmlLoad::getConfig(unsigned measIdx, const char* text, const char* unchecked,
                                             const char* source) {
    try {
        createParsers();
        if (!text) text = "";
        scan_ = new XmlScan(text, std::strlen(text), source);
        cfg_ = meas_app_alloc_MEASConfiguration();
        if (!cfg_) throw XmlError("out of memory", *scan_);
        bool acqInfoFound = false;
        while (!scan_->isEof()) {
            const XmlTok_t& t = scan_->getTok();
            if (t.kind == XML_TOK_EOF) break;
            if (is(t, XML_TOK_START_ATTR, "AcqInfo")) {
                acqInfoFound = true;
                readAcqInfo();
            }
        }
        // well-formed, but not a logging configuration: an empty measurement
        // alone would not say why nothing is recorded
        if (!acqInfoFound)
            syslogx(148, "measAppXmlLoad(%d): %s holds no AcqInfo element, all of it ignored", int(measIdx) + 1,
                    source && *source ? source : "the configuration");
    } catch (const char* e) {
        syslogx(147, "measAppXmlLoad(%d): %s", int(measIdx) + 1, e);
        throw;
    }
    if (unchecked) {
        try {
            readUnchecked(unchecked);
        } catch (const char* e) {
            syslogx(147, "measAppXmlLoad(%d): no_check.xml %s", int(measIdx) + 1, e);
            throw;
        }
    }
    MEASConfiguration* done = cfg_;
    cfg_ = nullptr;
    return done;
}

void measAppXmlLoad::readAcqInfo() {
    text_[0] = 0;
    numBlocks_ = -1;
    numConditions_ = 0;
    protocol_ = 0;
    if (rootParser_->parse(*scan_) != XML_TOK_ATTR_END) throw XmlError("/> expected", *scan_);
    if (cfg_->blocks || cfg_->conditions) throw XmlError("AcqInfo given twice", *scan_);
    copyText(cfg_->ident, text_);
    cfg_->protocol = uint16_t(protocol_);
    if (numBlocks_ < 0 || numBlocks_ > int(MEAS_MAX_BLOCKS)) throw XmlError("too many blocks", "num_blocks", *scan_);
    // a condition is one bit of the 64-bit start masks
    if (numConditions_ < 0 || numConditions_ > 64)
        throw XmlError("too many conditions", "num_conditions", *scan_);
    cfg_->numBlocks = uint16_t(numBlocks_);
    cfg_->numConditions = uint16_t(numConditions_);
    if (cfg_->numBlocks) {
        cfg_->blocks = static_cast<BlkInfo*>(std::calloc(cfg_->numBlocks, sizeof(BlkInfo)));
        if (!cfg_->blocks) throw XmlError("out of memory", *scan_);
    }
    if (cfg_->numConditions) {
        cfg_->conditions = static_cast<BlkInfo*>(std::calloc(cfg_->numConditions, sizeof(BlkInfo)));
        if (!cfg_->conditions) throw XmlError("out of memory", *scan_);
    }
    std::memset(blockDefined_, 0, sizeof blockDefined_);
    std::memset(condDefined_, 0, sizeof condDefined_);

    for (;;) {
        const XmlTok_t& t = scan_->getTok();
        if (t.kind == XML_TOK_EOF || is(t, XML_TOK_END, "AcqInfo")) break;
        if (t.kind == XML_TOK_START) {
            scan_->scanOverTag();
            continue;
        }
        if (t.kind != XML_TOK_START_ATTR) continue;
        if (t.name == "AsapName" || t.name == "PstName" || t.name == "UserInfo") {
            char* dst = t.name == "AsapName" ? cfg_->asapName : t.name == "PstName" ? cfg_->pstName : cfg_->userInfo;
            text_[0] = 0;
            expectEmpty(nameParser_->parse(*scan_));
            copyText(dst, text_);
        } else if (t.name == "GlobStartCond") {
            expectEmpty(globCondParser_->parse(*scan_));
            if (idx_ < 0 || idx_ > 63) throw XmlError("condition index too high", "idx", *scan_);
            cfg_->globalStartMask = uint64_t(1) << idx_;
            cfg_->globalStartGiven = 1;
        } else if (t.name == "PreTriggerTime") {
            expectEmpty(pretrigParser_->parse(*scan_));
            cfg_->pretriggerTime = time_;
        } else if (t.name == "TeleInfo") {
            readTeleInfo();
        } else if (t.name == "Block") {
            readBlock();
        } else if (t.name == "Condition") {
            readCondition();
        } else {
            scan_->scanOverTag();
        }
    }
    // Announced blocks and conditions that never came would be used empty.
    for (unsigned i = 0; i < cfg_->numBlocks; ++i)
        if (!blockDefined_[i]) throw XmlError("block not defined", *scan_);
    for (unsigned i = 0; i < cfg_->numConditions; ++i)
        if (!condDefined_[i]) throw XmlError("condition not defined", *scan_);
}

void measAppXmlLoad::readTeleInfo() {
    if (!cfg_->teleInfo) {
        cfg_->teleInfo = static_cast<TeleInfo*>(std::calloc(1, sizeof(TeleInfo)));
        if (!cfg_->teleInfo) throw XmlError("out of memory", *scan_);
    }
    TeleInfo* ti = cfg_->teleInfo;
    cfg_->teleInfoSize = TELEINFO_SIZE;
    text_[0] = 0;
    teleIp_[0] = 0;
    telePort_ = 0;
    dataRate_ = 0;
    teleMode_ = 0;
    int kind = teleParser_->parse(*scan_);
    if (kind == XML_TOK_ATTR_END) {
        for (;;) {
            const XmlTok_t& t = scan_->getTok();
            if (t.kind == XML_TOK_EOF || is(t, XML_TOK_END, "TeleInfo")) break;
            if (!isStart(t)) continue;
            ChanData** slot = t.name == "lapdist"   ? &ti->lapDist
                              : t.name == "GPSLat"  ? &ti->gpsLat
                              : t.name == "GPSLong" ? &ti->gpsLong
                              : t.name == "StartCond" ? &ti->startCond
                                                    : nullptr;
            if (!slot) {
                scan_->scanOverTag();
                continue;
            }
            ChanData* ch = new ChanData(*scan_, t);
            delete *slot;
            *slot = ch;
        }
    } else if (kind != XML_TOK_EMPTY_END) {
        throw XmlError("/> expected", *scan_);
    }
    ti->baudrate = baud_;
    ti->projectCode = projectCode_;
    ti->pause = uint8_t(pause_);
    ti->softwareId = uint8_t(softwareId_);
    if (teleIp_[0]) {
        ti->ipAddr = inet_addr(teleIp_);
        ti->port = uint16_t(telePort_);
    }
    ti->dataRate = dataRate_;
    ti->mode = uint8_t(teleMode_);
}

void measAppXmlLoad::readBlock() {
    condId_ = -1;
    teleBlk_ = -1;
    text_[0] = 0;
    expectContent(blockParser_->parse(*scan_));
    if (idx_ < 0 || idx_ >= int(cfg_->numBlocks)) throw XmlError("block index too high", "idx", *scan_);
    if (condId_ > 63) throw XmlError("condition index too high", "cond_id", *scan_);
    BlkInfo& blk = cfg_->blocks[idx_];
    std::memset(&blk, 0, sizeof blk);
    blk.blockNumber = uint16_t(idx_ + 1);
    blk.teleBlockId = teleBlk_ < 0 ? 0xFFFF : uint16_t(teleBlk_);
    copyText(blk.name, text_);
    blk.falseDivider = uint16_t(falseDiv_);
    blk.trueDivider = uint16_t(trueDiv_);
    blk.raster = uint32_t(raster_);
    blk.startMask = condId_ >= 0 ? uint64_t(1) << condId_ : 0;
    blk.modeWord = 1;
    blockDefined_[idx_] = 1;
    if (num_ > int(kMaxSeqs)) throw XmlError("too many copy sequences", "num_seqs", *scan_);
    numSeqs_ = num_ < 0 ? 0 : num_;
    std::memset(seqs_, 0, sizeof seqs_);
    for (;;) {
        const XmlTok_t& t = scan_->getTok();
        if (t.kind == XML_TOK_EOF || is(t, XML_TOK_END, "Block")) break;
        if (is(t, XML_TOK_START_ATTR, "CopySeq")) readCopySeq(numSeqs_);
        else if (isStart(t)) scan_->scanOverTag();
    }
    buildMeasList(blk);
}

void measAppXmlLoad::readCopySeq(int32_t numSeqs) {
    expectContent(seqParser_->parse(*scan_));
    if (idx_ < 0 || idx_ >= numSeqs) throw XmlError("CopySeq index too high", "idx", *scan_);
    if (num_ > int(kMaxAddrs)) throw XmlError("too many addresses", "num", *scan_);
    if (size_ < 1 || size_ > 255) throw XmlError("attribute has wrong value", "size", *scan_);
    CopySeq& s = seqs_[idx_];
    s.align = align_;
    s.size = size_;
    s.num = num_ < 0 ? 0 : num_;
    for (;;) {
        const XmlTok_t& t = scan_->getTok();
        if (t.kind == XML_TOK_EOF || is(t, XML_TOK_END, "CopySeq")) break;
        if (is(t, XML_TOK_START_ATTR, "adr")) {
            if (adrParser_->parse(*scan_) != XML_TOK_EMPTY_END) throw XmlError("> expected", *scan_);
            if (idx_ < 0 || idx_ >= s.num) throw XmlError("address index too high", "idx", *scan_);
            s.addr[idx_] = adr_;
        } else if (isStart(t)) {
            scan_->scanOverTag();
        }
    }
}

void measAppXmlLoad::buildMeasList(BlkInfo& blk) {
    uint32_t words = 0, channels = 0, dataBytes = 0;
    int32_t* list = blk.measList;
    for (int32_t i = 0; i < numSeqs_; ++i) {
        const CopySeq& s = seqs_[i];
        // a sequence announced but never given adds nothing (its size word
        // of 0 would end the list early)
        if (s.num == 0) continue;
        if (!meas_app_listFits(words + s.num + 3, channels + s.num))
            throw XmlError("measurement list too long", *scan_);
        list[words++] = s.align == s.size ? -s.size : s.size;
        for (int32_t a = 0; a < s.num; ++a) {
            list[words++] = int32_t(s.addr[a] & 0xFFFFFF);
            blk.chanSizes[channels++] = uint8_t(s.size);
            dataBytes += uint32_t(s.size);
            blk.pid = uint16_t(s.addr[a] >> 24);
        }
        list[words++] = 0;
        if (s.align == 4) blk.align4Count = uint16_t(blk.align4Count + s.num);
        else if (s.align == 2) blk.align2Count = uint16_t(s.num);
        else if (s.align == 1) blk.align1Count = uint16_t(s.num);
    }
    list[words++] = 0;
    blk.listLength = 4 * words;
    blk.channelCount = channels;
    blk.divider = uint16_t(meas_app_samplesPerRecord(blk.raster));
    uint64_t record = uint64_t(blk.divider) * dataBytes + 4;
    if (record > MEAS_RECORD_MAX) throw XmlError("block record exceeds the frame size", *scan_);
    blk.recordSize = uint32_t(record);
}

void measAppXmlLoad::readCondition() {
    expectEmpty(condParser_->parse(*scan_));
    if (idx_ < 0 || idx_ >= int(cfg_->numConditions)) throw XmlError("block index too high", "idx", *scan_);
    if (size_ < 1 || size_ > 255) throw XmlError("attribute has wrong value", "size", *scan_);
    BlkInfo& c = cfg_->conditions[idx_];
    meas_app_setCondBlock(c, unsigned(idx_), adr_, uint32_t(size_), idx_ + 1);
    c.pid = uint16_t(int16_t(int8_t(adr_ >> 24)));
    c.pretriggerWord = uint16_t(pretrigger_);
    condDefined_[idx_] = 1;
}

void measAppXmlLoad::readUnchecked(const char* unchecked) {
    uncheckedScan_ = new XmlScan(unchecked);
    // errors report the position in this file; the main scanner comes back
    // however the reading ends
    struct Swap {
        XmlScan*& slot;
        XmlScan* saved;
        ~Swap() { slot = saved; }
    } swap{scan_, scan_};
    scan_ = uncheckedScan_;
    bool inSection = false;
    while (!scan_->isEof()) {
        const XmlTok_t& t = scan_->getTok();
        if (t.kind == XML_TOK_EOF) break;
        if (!inSection) {
            if (t.kind == XML_TOK_START) {   // any plain start tag opens the section
                inSection = true;
            } else if (is(t, XML_TOK_START_ATTR, "UncheckedContent")) {
                int k;
                do k = scan_->getTok().kind;
                while (k != XML_TOK_ATTR_END && k != XML_TOK_EMPTY_END && k != XML_TOK_EOF);
                inSection = k == XML_TOK_ATTR_END;
            }
            continue;
        }
        if (is(t, XML_TOK_END, "UncheckedContent")) {
            inSection = false;
        } else if (is(t, XML_TOK_START_ATTR, "TarneloProjectFileName")) {
            text_[0] = 0;
            expectEmpty(nameParser_->parse(*scan_));
            copyText(cfg_->projectFileName, text_);
        } else if (isStart(t)) {
            scan_->scanOverTag();
        }
    }
}

MEASConfiguration* meas_app_xml_load(unsigned measIdx, const char* text, const char* unchecked,
                                     const char* source) {
    try {
        measAppXmlLoad reader;
        return reader.getConfig(measIdx, text, unchecked, source);
    } catch (...) {
        syslogx(147, "meas_app_xml_load(): parsing logging configuration failed, no measurement for M0%d",
                int(measIdx) + 1);
        return nullptr;
    }
}
