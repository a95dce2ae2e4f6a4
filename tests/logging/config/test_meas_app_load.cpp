// Binary logging configuration and the choice of the configuration file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "logging/cfg_ptr.h"
#include "logging/dat_builder.h"
#include "logging/config/cfg_meas.h"
#include "logging/config/meas_app_load.h"
#include "logging/logging_fixture.h"
#include "logging/nested_xml.h"

namespace {

// meas_app_load takes ownership of its buffer on failure, so hand it a copy.
MEASConfiguration* load(const std::vector<uint8_t>& bytes) {
    auto* buf = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
    if (!bytes.empty()) std::memcpy(buf, bytes.data(), bytes.size());
    MEASConfiguration* c = meas_app_load(0, buf, bytes.size());
    if (c) std::free(buf);
    return c;
}

DatFile twinDat() {
    DatFile d;
    d.globalMask = 1;
    d.globalGiven = 1;
    DatBlock b1{"engine", 0x101, 0, 1, 1, 1, 1, 0, {{{0x40000, 0x40008}, 1, 4}}};
    DatBlock b2{"chassis", 0x104, 1, 1, 2, 3, 2, 0, {{{0x40004}, 1, 4}, {{0x40028}, 1, 1}}};
    d.blocks = {b1, b2};
    d.conds = {{0x40029, 1, 1}};
    return d;
}

const char* twinXml =
    "<AcqInfo ident=\"x\" num_blocks=\"2\" num_conditions=\"1\" version=\"1\" protocol=\"0\">\n"
    "<AsapName name=\"a2l\"/><PstName name=\"pst\"/><UserInfo name=\"ui\"/><GlobStartCond idx=\"0\"/>\n"
    "<Block name=\"engine\" idx=\"0\" num_seqs=\"1\" true_div=\"1\" false_div=\"1\" Raster=\"R1ms\">\n"
    "<CopySeq align=\"4\" size=\"4\" num=\"2\" idx=\"0\"><adr adr=\"0x40000\" idx=\"0\"/>"
    "<adr adr=\"0x40008\" idx=\"1\"/></CopySeq></Block>\n"
    "<Block name=\"chassis\" idx=\"1\" cond_id=\"0\" num_seqs=\"2\" true_div=\"2\" false_div=\"3\" Raster=\"R10ms\">\n"
    "<CopySeq align=\"4\" size=\"4\" num=\"1\" idx=\"0\"><adr adr=\"0x40004\" idx=\"0\"/></CopySeq>\n"
    "<CopySeq align=\"1\" size=\"1\" num=\"1\" idx=\"1\"><adr adr=\"0x40028\" idx=\"0\"/></CopySeq></Block>\n"
    "<Condition adr=\"0x40029\" idx=\"0\" size=\"1\" pretrigger=\"0\"/>\n"
    "</AcqInfo>\n";

void expectSameBlock(const BlkInfo& a, const BlkInfo& b) {
    EXPECT_EQ(std::memcmp(a.measList, b.measList, sizeof a.measList), 0) << a.name;
    EXPECT_EQ(std::memcmp(a.chanSizes, b.chanSizes, sizeof a.chanSizes), 0) << a.name;
    EXPECT_EQ(a.listLength, b.listLength);
    EXPECT_EQ(a.recordSize, b.recordSize);
    EXPECT_EQ(a.channelCount, b.channelCount);
    EXPECT_EQ(a.raster, b.raster);
    EXPECT_EQ(a.pid, b.pid);
    EXPECT_EQ(a.startMask, b.startMask);
    EXPECT_EQ(a.modeWord, b.modeWord);
    EXPECT_EQ(a.trueDivider, b.trueDivider);
    EXPECT_EQ(a.falseDivider, b.falseDivider);
    EXPECT_EQ(a.blockNumber, b.blockNumber);
    EXPECT_EQ(a.divider, b.divider);
}

}  // namespace

class MeasAppLoad : public LoggingTest {
protected:
    void write(const std::string& name, const std::vector<uint8_t>& bytes) {
        makeDrive("cfg");
        std::ofstream(dir + "/cfg/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void write(const std::string& name, const std::string& text) {
        write(name, std::vector<uint8_t>(text.begin(), text.end()));
    }
};

TEST_F(MeasAppLoad, DatLoadsTheSameModelAsItsXmlTwin) {
    // the single-byte sequence is aligned, so both forms write the size word -1
    write("m01.dat", twinDat().build());
    uint32_t size = 0;
    CfgPtr dat{meas_app_get_MEASConfiguration(0, &size)};
    ASSERT_NE(dat.p, nullptr);
    EXPECT_EQ(size, twinDat().build().size());
    write("m01.xml", std::string(twinXml));
    write("no_check.xml", std::string("<UncheckedContent><TarneloProjectFileName name=\"proj.tpf\"/></UncheckedContent>"));
    CfgPtr xml{meas_app_get_MEASConfiguration(0, &size)};
    ASSERT_NE(xml.p, nullptr);
    EXPECT_EQ(size, std::strlen(twinXml));

    EXPECT_STREQ(dat->projectFileName, xml->projectFileName);
    EXPECT_STREQ(dat->asapName, xml->asapName);
    EXPECT_STREQ(dat->pstName, xml->pstName);
    EXPECT_STREQ(dat->userInfo, xml->userInfo);
    EXPECT_STREQ(dat->ident, "");
    EXPECT_EQ(dat->protocol, xml->protocol);
    EXPECT_EQ(dat->globalStartMask, xml->globalStartMask);
    EXPECT_EQ(dat->globalStartGiven, xml->globalStartGiven);
    ASSERT_EQ(dat->numBlocks, xml->numBlocks);
    ASSERT_EQ(dat->numConditions, xml->numConditions);
    for (unsigned i = 0; i < dat->numBlocks; ++i) {
        EXPECT_STREQ(dat->blocks[i].name, xml->blocks[i].name);
        expectSameBlock(dat->blocks[i], xml->blocks[i]);
    }
    const BlkInfo& dc = dat->conditions[0];
    const BlkInfo& xc = xml->conditions[0];
    EXPECT_EQ(std::memcmp(dc.measList, xc.measList, sizeof dc.measList), 0);
    EXPECT_EQ(dc.recordSize, xc.recordSize);
    EXPECT_EQ(dc.pid, xc.pid);
    EXPECT_EQ(dc.startMask, xc.startMask);
    EXPECT_EQ(dc.raster, 0u);                  // the binary record carries no raster
    EXPECT_EQ(xc.raster, MEAS_RASTER_10MS);    // the XML reader gives conditions 10 ms
    EXPECT_STREQ(dc.name, "CondBlk #0");       // the binary form counts from 0
    EXPECT_EQ(dat->pretriggerTime, 0.0f);
}

TEST_F(MeasAppLoad, VersionsChecksumsAndVariants) {
    DatFile v2;
    v2.version = 2;
    v2.globalMask = 0x0003;
    v2.blocks = {DatBlock{"b", 0x999, 0x8001, 1, 1, 1, 1, 0, {{{0x05000010, 0x05000014}, 1, 4}}}};
    CfgPtr c{load(v2.build())};
    ASSERT_NE(c.p, nullptr);
    EXPECT_EQ(c->globalStartMask, 3u);
    EXPECT_EQ(c->blocks[0].startMask, 0x8001u);
    EXPECT_EQ(c->blocks[0].teleBlockId, 0xFFFF);
    EXPECT_EQ(c->blocks[0].raster, MEAS_RASTER_1S);  // unknown raster code
    EXPECT_EQ(std::vector<int32_t>(c->blocks[0].measList, c->blocks[0].measList + 5),
              (std::vector<int32_t>{-4, 0x10, 0x14, 0, 0}));
    EXPECT_EQ(c->blocks[0].recordSize, 12u);
    EXPECT_EQ(c->blocks[0].channelCount, 2u);
    EXPECT_EQ(c->blocks[0].pid, 5);
    EXPECT_EQ(c->blocks[0].listLength, 20u);

    takeLogTexts();
    std::vector<uint8_t> flipped = v2.build();
    flipped[21] ^= 0x40;
    EXPECT_EQ(load(flipped), nullptr);
    std::vector<std::string> log = takeLogTexts();
    bool checksum = false;
    for (auto& l : log) checksum |= l.rfind("Measurement configuration invalid! Checksum is: ", 0) == 0;
    EXPECT_TRUE(checksum);

    DatFile v4 = v2;
    v4.version = 4;
    EXPECT_EQ(load(v4.build()), nullptr);
    EXPECT_TRUE(logged(takeLogTexts(), "Measurement configuration has invalid version, 4 in cfg:/m01.dat"));

    // version 2 with the 52-byte header: 64-bit mask, block mask in bits 48..63
    DatFile variant = v2;
    variant.longHeaderV2 = true;
    variant.globalMask = 0x8000000000000001ull;
    CfgPtr w{load(variant.build())};
    ASSERT_NE(w.p, nullptr);
    EXPECT_TRUE(logged(takeLogTexts(), "Measurement configuration is valid, version -1"));
    EXPECT_EQ(w->globalStartMask, 0x8000000000000001ull);
    EXPECT_EQ(w->blocks[0].startMask, 0x8001ull << 48);
    EXPECT_EQ(w->blocks[0].teleBlockId, 0);
}

TEST_F(MeasAppLoad, ConditionTypeBytesAndTelemetry) {
    DatFile v2;
    v2.version = 2;
    v2.conds = {{0x07000100, 0x41, 2}};
    v2.tele = true;
    v2.baud = 9600;
    v2.projectCode = 0xABCD;
    v2.pause = 4;
    v2.softwareId = 9;
    CfgPtr a{load(v2.build())};
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a->conditions[0].measList[0], -2);     // count 1, size 2
    EXPECT_EQ(a->conditions[0].pid, 7);
    EXPECT_EQ(a->conditions[0].measList[1], 0x100);
    ASSERT_NE(a->teleInfo, nullptr);
    EXPECT_EQ(a->teleInfo->baudrate, 9600u);
    EXPECT_EQ(a->teleInfo->projectCode, 0xABCDu);
    EXPECT_EQ(a->teleInfo->pause, 4);
    EXPECT_EQ(a->teleInfo->softwareId, 9);
    EXPECT_EQ(a->teleInfoSize, 44u);

    DatFile v3 = v2;
    v3.version = 3;
    CfgPtr b{load(v3.build())};
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(b->conditions[0].measList[0], -130);   // size 0x41, count 2
    EXPECT_EQ(b->conditions[0].recordSize, 134u);
}

TEST_F(MeasAppLoad, BrokenFilesAreRefusedNotRead) {
    DatFile d = twinDat();
    d.tele = true;
    const std::vector<uint8_t> good = d.build();
    CfgPtr ok{load(good)};
    ASSERT_NE(ok.p, nullptr);
    // every cut of the file is refused (the header CRC is kept right)
    for (size_t len = 0; len < good.size(); ++len) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(len));
        EXPECT_EQ(load(cut), nullptr) << len;
    }
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> f = good;
        DatFile::be32(f, at, value);
        DatFile::sealCrc(f, true);
        return f;
    };
    takeLogTexts();
    EXPECT_EQ(load(patched(20, 0xFFFFFFF0)), nullptr);        // project name offset
    EXPECT_FALSE(takeLogTexts().empty());
    EXPECT_EQ(load(patched(44, uint32_t(good.size()) - 10)), nullptr);   // block table
    EXPECT_EQ(load(patched(48, uint32_t(good.size()))), nullptr);        // condition table
    EXPECT_EQ(load(patched(40, uint32_t(good.size()) - 8)), nullptr);    // telemetry record
    std::vector<uint8_t> many = patched(52, 0xFFFF0000);                 // 65535 blocks
    EXPECT_EQ(load(many), nullptr);

    // a sequence longer than the block record's word table
    DatFile big;
    DatSeq s;
    for (int i = 0; i < 300; ++i) s.addrs.push_back(0x40000);
    big.blocks = {DatBlock{"big", 0x104, 0, 1, 1, 1, 1, 0, {s}}};
    EXPECT_EQ(load(big.build()), nullptr);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_convert_seq2MeasList(): measurement list too long in measblock #1"));
    // a record beyond the frame size: 100 values of 63 x 1 bytes
    DatFile wide;
    DatSeq w;
    w.count = 63;
    w.size = 1;
    for (int i = 0; i < 100; ++i) w.addrs.push_back(0x40000);
    wide.blocks = {DatBlock{"wide", 0x104, 0, 1, 1, 1, 1, 0, {w}}};
    EXPECT_EQ(load(wide.build()), nullptr);

    // a missing closing word and a foreign PID are logged but loaded
    DatFile odd;
    odd.blocks = {DatBlock{"odd", 0x104, 0, 1, 1, 1, 3, 0, {{{0x05000001, 0x06000002}, 1, 4, 0x1234}}}};
    CfgPtr o{load(odd.build())};
    ASSERT_NE(o.p, nullptr);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logged(log, "meas_app_convert_seq2MeasList(): unexpected pid id (0x06) measblock #3"));
    EXPECT_TRUE(logged(log, "meas_app_convert_seq2MeasList(): no expected NULL at end of copy sequence in measblock #3"));
    EXPECT_EQ(meas_app_load(0, nullptr, 10), nullptr);

    // an empty sequence without a size must not cut the list short
    DatFile gap;
    gap.blocks = {DatBlock{"gap", 0x104, 0, 1, 1, 1, 4, 0, {{{}, 0, 0}, {{0x05000020}, 1, 2}}}};
    CfgPtr g{load(gap.build())};
    ASSERT_NE(g.p, nullptr);
    EXPECT_EQ(std::vector<int32_t>(g->blocks[0].measList, g->blocks[0].measList + 4),
              (std::vector<int32_t>{-2, 0x20, 0, 0}));
    EXPECT_EQ(g->blocks[0].recordSize, 6u);
}

// A well-formed file without the configuration (here deeply nested
// elements of another name) is a warning that names the file.
TEST_F(MeasAppLoad, AFileWithoutAcqInfoIsAWarningThatNamesIt) {
    write("m01.xml", nestedElements("a", 5000));
    takeLogTexts();
    uint32_t size = 0;
    CfgPtr c{meas_app_get_MEASConfiguration(0, &size)};
    ASSERT_NE(c.p, nullptr);
    EXPECT_EQ(c.p->numBlocks, 0u);
    EXPECT_EQ(takeTextsAtSeverity(4),
              std::vector<std::string>{"measAppXmlLoad(1): cfg:/m01.xml holds no AcqInfo element, all of it ignored"});
    // its errors name it too
    write("m01.xml", "<AcqInfo ident=\"x\" num_blocks=\"300\" num_conditions=\"0\">");
    EXPECT_EQ(meas_app_get_MEASConfiguration(0, &size), nullptr);
    const auto log = takeLogTexts();
    EXPECT_TRUE(logged(log, "measAppXmlLoad(1): mandatory attribute not found (version) in line 1 column 1 of cfg:/m01.xml"))
        << ::testing::PrintToString(log);
}

TEST_F(MeasAppLoad, MissingFiles) {
    makeDrive("cfg");
    takeLogTexts();
    uint32_t size = 7;
    EXPECT_EQ(meas_app_get_MEASConfiguration(0, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_get_MEASConfiguration file 'cfg:/m01.xml' not found"));
    EXPECT_EQ(meas_app_get_MEASConfiguration(2, &size), nullptr);
    EXPECT_TRUE(takeLogTexts().empty());
    EXPECT_EQ(meas_app_get_MEASConfiguration(3, &size), nullptr);
    // an XML file without no_check.xml says so and still loads
    write("m03.xml", std::string(twinXml));
    CfgPtr c{meas_app_get_MEASConfiguration(2, &size)};
    ASSERT_NE(c.p, nullptr);
    EXPECT_TRUE(logged(takeLogTexts(), "meas_app_get_MEASConfiguration file 'cfg:/no_check.xml' not found"));
}

// A configuration file that is there but cannot be taken (a folder, a link
// that leads nowhere, one above the size limit of every configuration
// reader) is a warning that says what it is; nothing of it is read, and the
// binary twin does not stand in for it.
TEST_F(MeasAppLoad, AFileThatCannotBeTakenIsAWarningThatSaysWhatItIs) {
    makeDrive("cfg");
    write("m01.dat", twinDat().build());
    std::filesystem::create_symlink("m01.xml", dir + "/cfg/m01.xml");
    std::filesystem::create_symlink("gone.xml", dir + "/cfg/m02.xml");
    write("m03.xml", "");
    std::filesystem::resize_file(dir + "/cfg/m03.xml", 21003030);   // sparse
    takeLogTexts();
    uint32_t size = 7;
    EXPECT_EQ(meas_app_get_MEASConfiguration(0, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(meas_app_get_MEASConfiguration(1, &size), nullptr);
    EXPECT_EQ(meas_app_get_MEASConfiguration(2, &size), nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4),
              (std::vector<std::string>{
                  "meas_app_get_MEASConfiguration file 'cfg:/m01.xml' is a link loop, measurement not loaded",
                  "meas_app_get_MEASConfiguration file 'cfg:/m02.xml' is a link that leads nowhere, measurement not loaded",
                  "meas_app_get_MEASConfiguration file 'cfg:/m03.xml' is too large (21003030 bytes), measurement not "
                  "loaded"}));
    std::filesystem::remove(dir + "/cfg/m03.xml");
    std::filesystem::create_directory(dir + "/cfg/m03.xml");
    EXPECT_EQ(meas_app_get_MEASConfiguration(2, &size), nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"meas_app_get_MEASConfiguration file 'cfg:/m03.xml' "
                                                               "is a folder, measurement not loaded"});
    // the list of unchecked values is optional: a broken one is named and left out
    std::filesystem::remove(dir + "/cfg/m03.xml");
    write("m03.xml", std::string(twinXml));
    std::filesystem::create_symlink("no_check.xml", dir + "/cfg/no_check.xml");
    CfgPtr c{meas_app_get_MEASConfiguration(2, &size)};
    EXPECT_NE(c.p, nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"meas_app_get_MEASConfiguration file "
                                                               "'cfg:/no_check.xml' is a link loop, not used"});
    // a damaged binary file is named in what its header says
    std::filesystem::remove(dir + "/cfg/m01.xml");
    DatFile damaged = twinDat();
    damaged.version = 0x0916;
    write("m01.dat", damaged.build());
    EXPECT_EQ(meas_app_get_MEASConfiguration(0, &size), nullptr);
    EXPECT_TRUE(logged(takeLogTexts(), "Measurement configuration has invalid version, 2326 in cfg:/m01.dat"));
}
