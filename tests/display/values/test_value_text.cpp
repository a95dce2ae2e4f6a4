// The value text of every display mode, normal-mode formats with 0x81
// pieces and trimming, and the checks that keep file formats away from
// arguments printf does not get.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/config/display_format.h"
#include "display/config/xml_reader.h"
#include "display/values/cdata.h"
#include "display/values/value_text.h"
#include "platform/byteorder.h"

namespace {

// A holder of a FLOAT channel in the given mode, holding value v.
struct Holder {
    explicit Holder(uint32_t mode, const vtab_s* vtab = nullptr, uint16_t type = TE_FLOAT) {
        awm_meas_in in{};
        XmlInitChInput(&in);
        in.adr = 0x05000010;
        in.type = type;
        in.quant_b = in.quant_f = 1;
        CData src(&in);
        src.dispMode = mode;
        src.vtab = vtab;
        meas = std::make_unique<CDataMeas>(&src);
    }
    std::string Text(double v, const char* format) {
        uint8_t be[4];
        be_putf(be, float(v));
        meas->putData(be);
        meas->updateData();
        char out[DISP_VALUE_TEXT_LEN];
        std::memset(out, '#', sizeof out);
        meas->getDataStr(format, out);
        return out;
    }
    // The text of a 32-bit integer channel holding the bit pattern raw.
    std::string TextOfWord(uint32_t raw, const char* format) {
        uint8_t be[4];
        be_put32(be, raw);
        meas->putData(be);
        meas->updateData();
        char out[DISP_VALUE_TEXT_LEN] = "";
        meas->getDataStr(format, out);
        return out;
    }
    std::unique_ptr<CDataMeas> meas;
};

std::string Text(uint32_t mode, double v, const char* format = "%s") { return Holder(mode).Text(v, format); }

TEST(ValueText, ClockModes) {
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, 3725.4), "01:02:05");
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, -61), "-00:01:01");
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, -0.4), "00:00:00");
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, 360000), "100:00:00");
    EXPECT_EQ(Text(DISP_TIME_MM_SS_MS, 83.456), "01:23:46");
    EXPECT_EQ(Text(DISP_TIME_MM_SS_MS, -0.004), "00:00:00");
    EXPECT_EQ(Text(DISP_TIME_U_SSS_MS, 7.5), "007:50");
    EXPECT_EQ(Text(DISP_TIME_U_SSS_MS, 1234.567), "1234:57");
    EXPECT_EQ(Text(DISP_TIME_U_SSS_MS, -3), "000:00");
    EXPECT_EQ(Text(DISP_TIME_S_SSS_MS, 12.349), " 012:34");
    EXPECT_EQ(Text(DISP_TIME_S_SSS_MS, -1.5), "-001:50");
    EXPECT_EQ(Text(DISP_TIME_S_SSS_MS, -0.004), " 000:00");
    // The format wraps the text; a field width pads it.
    EXPECT_EQ(Text(DISP_TIME_U_SSS_MS, 7.5, "[%8s]"), "[  007:50]");
}

TEST(ValueText, HugeAndNotANumberValuesStayInRange) {
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, 1e30), "596523:14:07");   // INT32_MAX seconds
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, -1e30), "-596523:14:08");
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, __builtin_nan("")), "00:00:00");
    EXPECT_EQ(Text(DISP_TIME_S_SSS_MS, -1e30), "-21474836:48");
    EXPECT_EQ(Text(DISP_TIME_U_SSS_MS, 1e30), "42949672:95");
    EXPECT_EQ(Text(DISP_TIME_U_SSS_MS, __builtin_inf()), "000:00");   // inf / 1 is no number here
}

TEST(ValueText, AsciiAndVerbal) {
    EXPECT_EQ(Text(DISP_ASCII, 65.4), "A");
    EXPECT_EQ(Text(DISP_ASCII, 321), "A");
    vtab_s t{};
    XmlInitVTab(&t);
    std::strcpy(t.default_text, "-");
    vtab_node_s nodes[3];
    const std::pair<int32_t, const char*> entries[] = {{0, "N"}, {1, "1"}, {-1, "R"}};   // unsigned order
    for (int i = 0; i < 3; ++i) {
        XmlInitVTabNode(&nodes[i]);
        nodes[i].num = entries[i].first;
        std::strcpy(nodes[i].text, entries[i].second);
        XmlAVLinsert(&t.root, &nodes[i]);
    }
    Holder h(DISP_VERBAL, &t);
    EXPECT_EQ(h.Text(0.4, "%s"), "N");
    EXPECT_EQ(h.Text(1, "%s"), "1");
    EXPECT_EQ(h.Text(-1, "%s"), "R");   // a negative index finds its own entry
    EXPECT_EQ(h.Text(7, "gear %s"), "gear -");
}

TEST(ValueText, VerbalLooksUnsignedValuesUpAsTheyAreSignedOnesByTheirBits) {
    vtab_s t{};
    XmlInitVTab(&t);
    std::strcpy(t.default_text, "-");
    vtab_node_s nodes[4];
    const std::pair<int32_t, const char*> entries[] = {
        {0, "N"}, {2147483647, "MAX"}, {int32_t(0x80000000u), "HIGH"}, {-1, "ALL"}};   // unsigned order
    for (int i = 0; i < 4; ++i) {
        XmlInitVTabNode(&nodes[i]);
        nodes[i].num = entries[i].first;
        std::strcpy(nodes[i].text, entries[i].second);
        XmlAVLinsert(&t.root, &nodes[i]);
    }
    Holder u(DISP_VERBAL, &t, TE_UINT32);
    EXPECT_EQ(u.TextOfWord(4294967295u, "%s"), "ALL");
    EXPECT_EQ(u.TextOfWord(2147483648u, "%s"), "HIGH");
    EXPECT_EQ(u.TextOfWord(2147483647u, "%s"), "MAX");
    EXPECT_EQ(u.TextOfWord(4294967294u, "%s"), "-");
    Holder s(DISP_VERBAL, &t, TE_SINT32);
    EXPECT_EQ(s.TextOfWord(0xFFFFFFFFu, "%s"), "ALL");   // -1
    EXPECT_EQ(s.TextOfWord(0x80000000u, "%s"), "HIGH");  // INT32_MIN
    EXPECT_EQ(s.TextOfWord(0, "%s"), "N");
}

TEST(ValueText, NormalModePiecesAndTrimming) {
    EXPECT_EQ(Text(DISP_NORMAL, 123.4, "%.1f"), "123.4");
    EXPECT_EQ(Text(DISP_NORMAL, 12, "%.0f."), "12");
    EXPECT_EQ(Text(DISP_NORMAL, -0.2, "%.0f."), "0");
    EXPECT_EQ(Text(DISP_NORMAL, -0.2, "%.0f"), "0");
    EXPECT_EQ(Text(DISP_NORMAL, -0.04, "%.1f"), "-0.0");
    EXPECT_EQ(Text(DISP_NORMAL, 1.75, "%.1f\x81%.0f"), "1.8\x81" "2");
    EXPECT_EQ(Text(DISP_NORMAL, 55, "%.0f %%"), "55 %");
    EXPECT_EQ(Text(DISP_NORMAL, 55, "rpm"), "rpm");
    EXPECT_EQ(Text(DISP_NORMAL, 55, ""), "");
}

TEST(ValueText, InvalidValuesAndOtherModesGiveTheEmptyText) {
    Holder h(DISP_NORMAL);
    char out[DISP_VALUE_TEXT_LEN] = "old";
    h.meas->getDataStr("%.1f", out);   // no value yet
    EXPECT_STREQ(out, "");
    EXPECT_EQ(h.Text(5, "%.1f"), "5.0");
    h.meas->setTimeout();
    std::strcpy(out, "old");
    h.meas->getDataStr("%.1f", out);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Text(DISP_NONE, 5, "%s"), "");
    EXPECT_EQ(Text(CDATA_MODE_VISIBILITY, 5, "%s"), "");
}

TEST(ValueText, FormatsThatDoNotFitTheValueAreNeverUsed) {
    for (const char* bad : {"%s", "%d", "%n", "%.1f %.1f", "%*f", "%.*f", "%1000f", "%Lf", "%", "%.1", "%p"})
        EXPECT_FALSE(display_format_ok(bad, DISP_NORMAL)) << bad;
    for (const char* good : {"", "%.1f", "%+08.3f km", "%e", "%G", "%lf", "100 %%", "%.0f\x81%.2f"})
        EXPECT_TRUE(display_format_ok(good, DISP_NORMAL)) << good;
    EXPECT_FALSE(display_format_ok("%f", DISP_VERBAL));
    EXPECT_FALSE(display_format_ok("%s%s", DISP_TIME_HH_MM_SS));
    EXPECT_FALSE(display_format_ok("%+s", DISP_ASCII));
    EXPECT_TRUE(display_format_ok("lap %-10s|", DISP_TIME_MM_SS_MS));
    EXPECT_TRUE(display_format_ok("%d %n", DISP_NONE));   // never formatted
    // At run time a piece that does not fit is left out, the others print.
    EXPECT_EQ(Text(DISP_NORMAL, 2, "%s\x81%.1f"), "2.0");
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, 2, "%d"), "");
}

TEST(ValueText, OutputIsBoundedByTheTextBuffer) {
    const std::string t = Text(DISP_NORMAL, 1e38, "%.250f");
    EXPECT_EQ(t.size(), DISP_VALUE_TEXT_LEN - 1);
    char small[8];
    EXPECT_EQ(sprintf_w0x81(small, "%.3f\x81%.3f", 1234.5, sizeof small), 7);
    EXPECT_STREQ(small, "1234.50");
    const std::string pad = Text(DISP_TIME_HH_MM_SS, 1, "%250s|%s");
    EXPECT_TRUE(pad.empty());   // two conversions: refused
    EXPECT_EQ(Text(DISP_TIME_HH_MM_SS, 1, "%255s|").size(), DISP_VALUE_TEXT_LEN - 1);
}

TEST(ValueText, TheReaderRefusesABoxFormatThatDoesNotFitItsMode) {
    auto doc = [](const char* mode, const char* format, bool channel) {
        std::string e = std::string("<AlphaNumeric version=\"1.0\" title=\"\" vis_mode=\"always\" always_on_top=\"false\" "
                                    "prio=\"1\" pos_x=\"0\" pos_y=\"0\" size_x=\"10\" size_y=\"10\" font_size=\"tiny\" "
                                    "align=\"MM\" dispmode=\"") +
                        mode + "\" vtab=\"\" format_str=\"" + format + "\">";
        if (channel)
            e += "<ChInput adr=\"05000010\" type=\"FLOAT\" mask=\"FFFFFFFF\" quant_a=\"0\" quant_b=\"1\" quant_c=\"0\" "
                 "quant_d=\"0\" quant_e=\"0\" quant_f=\"1\"/>";
        e += "<DecoMiddle><AlphaNumDeco style=\"none\"><BGCol red=\"0\" green=\"0\" blue=\"0\"/>"
             "<TitleBGCol red=\"0\" green=\"0\" blue=\"0\"/><TitleFGCol red=\"0\" green=\"0\" blue=\"0\"/>"
             "<BorderBGCol red=\"0\" green=\"0\" blue=\"0\"/><BorderFGCol red=\"0\" green=\"0\" blue=\"0\"/>"
             "<TextBGCol red=\"0\" green=\"0\" blue=\"0\"/><TextFGCol red=\"0\" green=\"0\" blue=\"0\"/>"
             "</AlphaNumDeco></DecoMiddle></AlphaNumeric>";
        return "<?xml version=\"1.0\"?><Display version=\"1.0\" x_res=\"640\" y_res=\"480\">"
               "<Brightness><perc value=\"50\"/></Brightness><Pages><Page><BGCol red=\"0\" green=\"0\" blue=\"0\"/>"
               "<DisplayElements>" + e + "</DisplayElements></Page></Pages></Display>";
    };
    auto loads = [](const std::string& text) {
        display_s* d = nullptr;
        const int r = XmlLoadText(text.data(), int32_t(text.size()), &d);
        XmlFreeDisplay(d);
        return r == 0;
    };
    EXPECT_TRUE(loads(doc("normal", "%.1f bar", true)));
    EXPECT_FALSE(loads(doc("normal", "%s", true)));
    char msg[255];
    xml_get_error_msg(msg, sizeof msg);
    EXPECT_NE(std::string(msg).find("format_str does not fit the display mode"), std::string::npos) << msg;
    EXPECT_FALSE(loads(doc("time_hh_mm_ss", "%f", true)));
    EXPECT_TRUE(loads(doc("normal", "50 %", false)));   // a label: shown as it is
}

}  // namespace
