// Every failure of the display.xml reader reports its text with the line
// and column where the reader stands: one small broken file per text. "@@"
// in a case marks that place.
#include "display/config/broken_files.h"
#include "display/config/display_xml_fixture.h"
#include "display/config/xml_band.h"
#include "log_capture.h"
#include "xml/xml_file.h"

#include <filesystem>
#include <vector>

using namespace broken;

namespace {

struct Case {
    std::string text;   // with the marker
    std::string msg;
};

// The expected text: msg at the marker's line and column.
std::string expectedAt(const std::string& text, const std::string& msg) {
    size_t at = text.find("@@");
    if (at == std::string::npos) return msg;
    int line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < at; ++i)
        if (text[i] == '\n') ++line, lineStart = i + 1;
    return msg + " in line " + std::to_string(line) + " column " + std::to_string(at - lineStart);
}

void expectFailures(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::string text = with(c.text, "@@", "");
        DisplayPtr d = loadText(text);
        EXPECT_EQ(d, nullptr) << text;
        EXPECT_EQ(displayError(), expectedAt(c.text, c.msg)) << text;
    }
}

// attrs with attr given twice, the second time where the marker stands.
std::string twiceIn(const std::string& attrs, const std::string& attr) {
    if (attrs.find(attr) != std::string::npos) return with(attrs, attr, attr + " " + attr + "@@");
    return attrs + " " + attr + " " + attr + "@@";
}

std::string pages(int n) {
    std::string s = "<Pages>";
    for (int i = 0; i < n; ++i) s += "<Page>" + BG + "</Page>";
    return s + "</Pages>";
}

}  // namespace

TEST(DisplayXmlErrors, Document) {
    expectFailures({
        {"<Display @@version=\"1.0\" x_res=\"640\" y_res=\"480\">", "parse error: expecting special tag xml"},
        {"<?xml encoding=\"x\"@@?>", "parse error:  expecting version of xml"},
        {"<?xml version=\"abc\"@@?>", "parse error: wrong value"},
        {"<?xml version=\"1.0\" standalone=\"yes\">@@", "parse error: expecting special end tag of xml"},
        {DECL + "<Display>@@", "parse error: expecting opening tag of display"},
        {DECL + "<Display version=\"1.0\" version=\"2\"@@>", "parse error: parameter version found twice"},
        {DECL + "<Display x_res=\"1\" x_res=\"2\"@@>", "parse error: res_x found twice"},
        {DECL + "<Display y_res=\"1\" y_res=\"2\"@@>", "parse error: res_y found twice"},
        {DECL + "<Display version=\"v\"@@>", "parse error: wrong value"},
        {DECL + "<Display x_res=\"65536\"@@>", "parse error: wrong value"},
        {DECL + "<Display y_res=\"-1\"@@>", "parse error: wrong value"},
        {DECL + "<Display version=\"1.0\" x_res=\"640\" y_res=\"480\"/>@@", "parse error: expecting paramters of display type"},
        {DECL + "<Display version=\"1.0\" x_res=\"640\">@@", "parse error: missing paramter"},
        {DECL + DISPLAY + pages(1) + "</Display>@@", "parse error: not all tags found"},
        {DECL + DISPLAY + BRIGHT + "</Display>@@", "parse error: not all tags found"},
        // A Brightness with attributes is no Brightness: skipped.
        {DECL + DISPLAY + "<Brightness a=\"1\"><perc value=\"5\"/></Brightness>" + pages(1) + "</Display>@@",
         "parse error: not all tags found"},
        {doc(BRIGHT + pages(13)), "parse error: max page count reached"},
        {doc(BRIGHT + "<Skipped><x></y>@@</Skipped>"), "parse error: unexpected token"},
        {doc(BRIGHT + "<Skipped><@@5"), "parse error: error during unknown tag"},
        {doc(BRIGHT + "</Other>@@"), "parse error: unexpected token"},
        {DECL + DISPLAY + BRIGHT + pages(1) + "@@", "parse error: unexpected token"},
    });
}

TEST(DisplayXmlErrors, Brightness) {
    const std::string perc6 = R"(<perc value="0"/><perc value="20"/><perc value="40"/><perc value="60"/><perc value="80"/><perc value="100"/>)";
    expectFailures({
        {doc("<Brightness><foo@@/></Brightness>"), "parse error: expecting open tag perc"},
        {doc("<Brightness></Other>@@"), "parse error: expecting open tag perc"},
        {doc("<Brightness><perc val=\"5\"@@/></Brightness>"), "parse error: expecting parameter value"},
        {doc("<Brightness>" + perc6 + "<perc value=\"90\"@@/></Brightness>"), "parse error: too many values"},
        {doc("<Brightness><perc value=\"101\"@@/></Brightness>"), "parse error: wrong value"},
        {doc("<Brightness><perc value=\"5\">@@</perc></Brightness>"), "parse error: expected direct close tag"},
    });
    std::string text = "<Brightness a=\"1\">";
    xml_scan_s s;
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    uint16_t perc[6], count;
    EXPECT_EQ(XmlParseBrightness_Tag(&s, perc, &count), -1);
    EXPECT_EQ(displayError(), "parse error: expecting open tag brightness in line 1 column 12");
}

TEST(DisplayXmlErrors, Pages) {
    expectFailures({
        {doc(BRIGHT + "<Pages><Page @@name=\"x\"><BGCol " + BLACK + "/></Page></Pages>"), "parse error: expecting page tag"},
        {doc(BRIGHT + "<Pages><Foo>@@</Foo></Pages>"), "parse error: expecting page tag"},
        {doc(BRIGHT + "<Pages><Page><BGCol red=\"0\" green=\"0\"/>@@</Page></Pages>"), "parse error: expecting backgr color tag"},
        {doc(BRIGHT + "<Pages><Page><DisplayElements></DisplayElements></Page>@@</Pages>"), "parse error: missing paramter"},
        {withElements(alnum() + alnum() + "@@"), "parse error: prio not sorted"},
        {withElements(with(alnum(), "prio=\"1\"", "prio=\"5\"") + alnum() + "@@"), "parse error: prio not sorted"},
        // A Picture read over (version 2.0) keeps its prio, and as the first
        // of its page it still sets where the order starts.
        {withElements(with(picture(), "version=\"1.0\"", "version=\"2.0\"") + alnum() + "@@"), "parse error: prio not sorted"},
        {doc(BRIGHT + "<AllPages>" + BG + "<DisplayElements>" + alnum() + alnum() + "@@</DisplayElements></AllPages>" +
             pages(1)),
         "parse error: prio not sorted"},
        // The table the element named in the first pass is gone in the second.
        {doc(BRIGHT + "<VerbTabs><VerbTab name=\"g\" default=\"\"></VerbTab></VerbTabs>" +
             page(with(alnum(), "vtab=\"\"", "vtab=\"g\"@@")) + "<VerbTabs></VerbTabs>"),
         "parse error: expecting display element tag"},
    });
}

TEST(DisplayXmlErrors, ColoursAndChannelInputs) {
    expectFailures({
        {doc(BRIGHT + "<Pages><Page><BGCol red=\"0\" red=\"1\"@@/></Page></Pages>"), "parse error: expecting backgr color tag"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, "<TransparentCol " + BLACK + "/>", "<TransparentCol>@@</TransparentCol>"))),
         "parse error: expecting open tag for rgb type"},
        {withElements(picture(PIC_ATTRS, "</TransparentCol>@@" + PIC_BODY)), "parse error: expecting open tag for rgb type"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, BLACK + "/>", BLACK + ">@@</TransparentCol>"))),
         "parse error: expecting paramters of rgb type"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, "green=\"0\"", "red=\"1\"@@"))), "parse error: parameter red found twice"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, "blue=\"0\"", "green=\"1\"@@"))), "parse error: parameter green found twice"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, "blue=\"0\"", "blue=\"0\" blue=\"1\"@@"))), "parse error: parameter bluee found twice"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, "red=\"0\"", "red=\"100\"@@"))), "parse error: wrong value"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, "red=\"0\"", "red=\"0x1\"@@"))), "parse error: wrong value"},
        {withElements(picture(PIC_ATTRS, with(PIC_BODY, BLACK + "/>", "red=\"0\" green=\"0\"/>@@"))),
         "parse error: not all paramters found for rgb type"},

        {doc(BRIGHT + "<PageInput " + CH_ATTRS + ">@@"), "parse error: expecting paramters of ChannelIn type"},
        {doc(BRIGHT + "<PageInput adr=\"1\" <@@"), "parse error: expecting paramters of ChannelIn type"},
        {doc(BRIGHT + "<PageInput adr=\"1\" adr=\"2\"@@/>"), "parse error: parameter adr found twice"},
        {doc(BRIGHT + "<PageInput adr=\"123456789\"@@/>"), "parse error: wrong value"},
        {doc(BRIGHT + "<ResetInput type=\"UINT8\" type=\"UINT8\"@@/>"), "parse error: parameter typ found twice"},
        {doc(BRIGHT + "<ResetInput type=\"INT8\"@@/>"), "parse error: wrong data type parameter"},
        {doc(BRIGHT + "<ResetInput mask=\"FF\" mask=\"FF\"@@/>"), "parse error: mask found twice"},
        {doc(BRIGHT + "<ResetInput mask=\"G\"@@/>"), "parse error: wrong value"},
        {doc(BRIGHT + "<BrightnessInput quant_a=\"1\" quant_a=\"1\"@@/>"), "parse error: quant. parameter a found twice"},
        {doc(BRIGHT + "<BrightnessInput quant_b=\"1\" quant_b=\"1\"@@/>"), "parse error: quant. parameter b found twice"},
        {doc(BRIGHT + "<BrightnessInput quant_c=\"1\" quant_c=\"1\"@@/>"), "parse error: quant. parameter c found twice"},
        {doc(BRIGHT + "<BrightnessInput quant_d=\"1\" quant_d=\"1\"@@/>"), "parse error: quant. parameter d found twice"},
        {doc(BRIGHT + "<BrightnessInput quant_e=\"1\" quant_e=\"1\"@@/>"), "parse error: quant. parameter e found twice"},
        {doc(BRIGHT + "<BrightnessInput quant_f=\"1\" quant_f=\"1\"@@/>"), "parse error: quant. parameter f found twice"},
        {doc(BRIGHT + "<BrightnessInput quant_f=\"one\"@@/>"), "parse error: wrong value"},
        {doc(BRIGHT + "<PageInput " + with(CH_ATTRS, " quant_f=\"1\"", "") + "/>@@"),
         "parse error: not all paramters found for channel input type"},
    });
    std::string text = "<Other adr=\"1\"/>";
    xml_scan_s s;
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    awm_meas_in in;
    EXPECT_EQ(XmlParseChInput_Tag(&s, "ChInput", &in), -1);
    EXPECT_EQ(displayError(), "parse error: expecting open tag for channel input in line 1 column 7");
}

TEST(DisplayXmlErrors, DecosAndBands) {
    const std::string anMiddle = "<DecoMiddle>" + AN_DECO + "</DecoMiddle>";
    auto anBody = [&](const std::string& deco) { return "<DecoMiddle>" + deco + "</DecoMiddle>"; };
    auto barBody = [&](const std::string& deco) { return channel("ChInput") + "<DecoMiddle>" + deco + "</DecoMiddle>"; };
    auto picBody = [&](const std::string& deco) {
        return "<TransparentCol " + BLACK + "/><DecoMiddle>" + deco + "</DecoMiddle>";
    };
    expectFailures({
        {withElements(alnum(AN_ATTRS, anBody(with(AN_DECO, "style=\"none\"", "style=\"none\" style=\"none\"@@")))),
         "parse error: parameter style found twice"},
        {withElements(alnum(AN_ATTRS, anBody(with(AN_DECO, "style=\"none\"", "style=\"dotted\"@@")))),
         "parse error: wrong style parameter"},
        {withElements(alnum(AN_ATTRS, anBody("<AlphaNumDeco style=\"none\"/>@@"))), "parse error: expecting attributes of deco type"},
        {withElements(alnum(AN_ATTRS, anBody(with(AN_DECO, "style=\"none\"", "kind=\"none\">@@")))), "attribute style not found"},
        {withElements(alnum(AN_ATTRS, anBody(with(AN_DECO, "<AlphaNumDeco ", "<BarGraphDeco @@")))),
         "parse error: expecting AlphaNumDeco open tag"},
        {withElements(bar(BAR_ATTRS, barBody(with(BAR_DECO, "<BarGraphDeco ", "<AlphaNumDeco @@")))),
         "parse error: expecting BarGraphDeco open tag"},
        {withElements(picture(PIC_ATTRS, picBody(with(PIC_DECO, "<PictureDeco ", "<BarGraphDeco @@")))),
         "parse error: expecting PitureDeco open tag"},
        {withElements(alnum(AN_ATTRS, anBody(with(AN_DECO, "</AlphaNumDeco>", "<Extra>@@</Extra></AlphaNumDeco>")))),
         "parse error: expecting AlphaNumDeco close tag"},
        {withElements(bar(BAR_ATTRS, barBody(with(BAR_DECO, "</BarGraphDeco>", "</Other>@@")))),
         "parse error: expecting BarGraph close tag"},
        {withElements(picture(PIC_ATTRS, picBody(with(PIC_DECO, "</PictureDeco>", "</DecoMiddle>@@")))),
         "parse error: expecting PictureDeco close tag"},
        {withElements(alnum(AN_ATTRS, anBody(with(AN_DECO, "<TextFGCol " + BLACK + "/>", "") + "@@"))),
         "parse error: not all colours found"},
        {withElements(bar(BAR_ATTRS, barBody(with(BAR_DECO, "<TicksCol " + BLACK + "/>", "") + "@@"))),
         "parse error: not all colours found"},
        {withElements(picture(PIC_ATTRS, picBody(with(PIC_DECO, "<BGCol " + BLACK + "/>", "") + "@@"))),
         "parse error: not all colours found"},

        {withElements(alnum(AN_ATTRS, "<DecoLower Limit=\"1\" Limit=\"2\"@@>" + AN_DECO + "</DecoLower>" + anMiddle)),
         "parse error: parameter limit found twice"},
        {withElements(alnum(AN_ATTRS, "<DecoUpper hyst=\"1\" hyst=\"2\"@@>" + AN_DECO + "</DecoUpper>" + anMiddle)),
         "parse error: hysteresis found twice"},
        {withElements(alnum(AN_ATTRS, "<DecoLower Limit=\"x\"@@>" + AN_DECO + "</DecoLower>" + anMiddle)),
         "parse error: wrong value"},
        {withElements(alnum(AN_ATTRS, "<DecoLower hyst=\"x\"@@>" + AN_DECO + "</DecoLower>" + anMiddle)),
         "parse error: wrong value"},
        {withElements(alnum(AN_ATTRS, "<DecoLower Limit=\"1\"/>@@" + anMiddle)), "parse error: expecting attributes of deco type"},
        {withElements(alnum(AN_ATTRS, "<DecoLower Limit=\"1\">@@" + AN_DECO + "</DecoLower>" + anMiddle)), "attribute missing"},
        {withElements(bar(BAR_ATTRS, "<DecoUpper hyst=\"1\">@@" + BAR_DECO + "</DecoUpper>" + BAR_BODY)), "missing attribute"},
        {withElements(alnum(AN_ATTRS, "<DecoLower Limit=\"1\" hyst=\"1\">" + AN_DECO + "</DecoUpper>@@" + anMiddle)),
         "parse error: expecting deco lower close tag"},
        {withElements(alnum(AN_ATTRS, "<DecoUpper Limit=\"1\" hyst=\"1\">" + AN_DECO + "<X@@/></DecoUpper>" + anMiddle)),
         "parse error: expecting deco upper close tag"},
        {withElements(alnum(AN_ATTRS, "<DecoMiddle>" + AN_DECO + "</DecoLower>@@")), "parse error: expecting deco middle close tag"},
        {withElements(alnum(AN_ATTRS, "<DecoMiddle a=\"1\" />@@")), "parse error: expecting attributes"},
    });
    // The band's own start tag, read again after the peek.
    for (auto [band, msg] : std::vector<std::pair<const xml_band_texts*, std::string>>{
             {&XML_BAND_LOWER, "parse error: expecting deco lower open tag"},
             {&XML_BAND_MIDDLE, "parse error: expecting deco middle open tag"},
             {&XML_BAND_UPPER, "parse error: expecting deco upper open tag"}}) {
        std::string text = "<Other a=\"1\">";
        xml_scan_s s;
        xml_scan_init(&s, text.data(), int32_t(text.size()));
        float l, h;
        bool limited = band != &XML_BAND_MIDDLE;
        EXPECT_EQ(xml_band_open(&s, *band, limited ? &l : nullptr, limited ? &h : nullptr, "x"), -1);
        EXPECT_EQ(displayError(), msg + " in line 1 column 7");
    }
}

TEST(DisplayXmlErrors, TickLists) {
    std::string tabs;
    for (int i = 0; i < 20; ++i) tabs += "<Tab name=\"t\" value=\"" + std::to_string(i) + "\"/>";
    auto ticks = [&](const std::string& list) { return withElements(bar(BAR_ATTRS, BAR_BODY + list)); };
    expectFailures({
        {ticks("<TickList>" + tabs + "@@<Tab name=\"t\" value=\"20\"/></TickList>"), "parse error: too many ticks"},
        {ticks("<TickList><Tab name=\"a\" value=\"1\">@@</TickList>"), "parse error: expecting paramters of tab"},
        {ticks("<TickList><Tab name=\"a\" @@5/></TickList>"), "parse error: expecting paramters of tab"},
        {ticks("<TickList><Tab name=\"a\" name=\"b\"@@/></TickList>"), "parse error: name found twice"},
        {ticks("<TickList><Tab value=\"1\" value=\"2\"@@/></TickList>"), "parse error: value found twice"},
        {ticks("<TickList><Tab value=\"high\"@@/></TickList>"), "parse error: wrong value"},
        {ticks("<TickList><Tab name=\"a\"/>@@</TickList>"), "parse error: tab needs name and value"},
        {ticks("<TickList><@@"), "parse error: expecting paramters of ticks type"},
    });
    std::string text = "<Other/>";
    xml_scan_s s;
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    tick_s list[DISPLAY_MAX_TICKS];
    uint16_t count = 5;
    EXPECT_EQ(XmlParseTicks(&s, list, &count), -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(displayError(), "parse error: expecting open tag ticklist in line 1 column 6");
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    EXPECT_EQ(XmlParseTickTab(&s, list), -1);
    EXPECT_EQ(displayError(), "parse error: expecting open tag tab in line 1 column 6");
}

TEST(DisplayXmlErrors, ElementAttributes) {
    struct Twice {
        const char* attr;
        const char* msg;
    };
    const Twice head[] = {{"version=\"1.0\"", "parse error: parameter version found twice"},
                          {"title=\"t\"", "parse error: title found twice"},
                          {"vis_mode=\"always\"", "parse error: parameter visual mode found twice"},
                          {"always_on_top=\"false\"", "parse error: always on top found twice"},
                          {"prio=\"1\"", "parse error: prio found twice"},
                          {"pos_x=\"0\"", "parse error: pos_x found twice"},
                          {"pos_y=\"0\"", "parse error: pos_y found twice"},
                          {"size_x=\"10\"", "parse error: size_x found twice"},
                          {"size_y=\"10\"", "parse error: size_y found twice"}};
    std::vector<Case> cases;
    for (const Twice& t : head) {
        cases.push_back({withElements(alnum(twiceIn(AN_ATTRS, t.attr))), t.msg});
        cases.push_back({withElements(bar(twiceIn(BAR_ATTRS, t.attr))), t.msg});
        cases.push_back({withElements(picture(twiceIn(PIC_ATTRS, t.attr))), t.msg});
    }
    const Twice an[] = {{"font_size=\"normal\"", "parse error: parameter font size found twice"},
                        {"align=\"MM\"", "parse error: parameter alignment found twice"},
                        {"dispmode=\"normal\"", "parse error: parameter display mode found twice"},
                        {"vtab=\"\"", "parse error: vtab found twice"},
                        {"format_str=\"%f\"", "parse error: format_str found twice"},
                        {"blink=\"off\"", "parse error: blink found twice"},
                        {"min_disp_time=\"1\"", "parse error: min_disp_time found twice"},
                        {"auto_reset_time=\"1\"", "parse error: auto_reset_time found twice"},
                        {"retrigger_time=\"1\"", "parse error: retrigger_time found twice"}};
    for (const Twice& t : an)
        cases.push_back({withElements(alnum(twiceIn(AN_ATTRS, t.attr))), t.msg});
    const Twice br[] = {{"style=\"solid\"", "parse error: parameter bar graph style found twice"},
                        {"orientation=\"hori_lr\"", "parse error: parameter bar graph orientation found twice"},
                        {"ticks=\"false\"", "parse error: ticks found twice"},
                        {"min=\"0\"", "parse error: min found twice"},
                        {"max=\"1\"", "parse error: max found twice"}};
    for (const Twice& t : br)
        cases.push_back({withElements(bar(twiceIn(BAR_ATTRS, t.attr))), t.msg});
    const Twice pc[] = {{"filename=\"cfg:/p.png\"", "parse error: filename found twice"},
                        {"ofs=\"0\"", "parse error: offset found twice"},
                        {"len=\"10\"", "parse error: length found twice"},
                        {"blink=\"off\"", "parse error: blink found twice"},
                        {"min_disp_time=\"1\"", "parse error: min_disp_time found twice"},
                        {"auto_reset_time=\"1\"", "parse error: auto_reset_time found twice"},
                        {"retrigger_time=\"1\"", "parse error: retrigger_time found twice"}};
    for (const Twice& t : pc)
        cases.push_back({withElements(picture(twiceIn(PIC_ATTRS, t.attr))), t.msg});

    const Twice bad[] = {{"version=\"x\"", "parse error: wrong value"},
                         {"vis_mode=\"sometimes\"", "parse error: wrong visual mode parameter"},
                         {"always_on_top=\"1\"", "parse error: wrong value"},
                         {"prio=\"65536\"", "parse error: wrong value"},
                         {"pos_x=\"-1\"", "parse error: wrong value"},
                         {"pos_y=\"1.5\"", "parse error: wrong value"},
                         {"size_x=\"70000\"", "parse error: wrong value"},
                         {"size_y=\"4294967296\"", "parse error: wrong value"}};
    for (const Twice& t : bad) {
        std::string name = std::string(t.attr).substr(0, std::string(t.attr).find('='));
        auto replaceHead = [&](const std::string& attrs) {
            size_t at = attrs.find(name + "=\"");
            size_t end = attrs.find('"', at + name.size() + 2);
            return attrs.substr(0, at) + t.attr + "@@" + attrs.substr(end + 1);
        };
        cases.push_back({withElements(alnum(replaceHead(AN_ATTRS))), t.msg});
        cases.push_back({withElements(bar(replaceHead(BAR_ATTRS))), t.msg});
        cases.push_back({withElements(picture(replaceHead(PIC_ATTRS))), t.msg});
    }
    cases.insert(cases.end(), {
        {withElements(alnum(with(AN_ATTRS, "font_size=\"normal\"", "font_size=\"huge\"@@"))), "parse error: wrong font size parameter"},
        {withElements(alnum(with(AN_ATTRS, "align=\"MM\"", "align=\"mm\"@@"))), "parse error: wrong align parameter"},
        {withElements(alnum(with(AN_ATTRS, "dispmode=\"normal\"", "dispmode=\"hex\"@@"))), "parse error: wrong display mode parameter"},
        {withElements(alnum(with(AN_ATTRS, "vtab=\"\"", "vtab=\"gears\"@@"))), "parse error: vtab reference not found"},
        {withElements(alnum(AN_ATTRS + " blink=\"on\"@@")), "parse error: wrong blink type"},
        {withElements(picture(PIC_ATTRS + " blink=\"rapid\"@@")), "parse error: wrong blink type"},
        {withElements(alnum(AN_ATTRS + " min_disp_time=\"-5\"@@")), "parse error: wrong value"},
        {withElements(picture(PIC_ATTRS + " auto_reset_time=\"4294967296\"@@")), "parse error: wrong value"},
        {withElements(alnum(AN_ATTRS + " retrigger_time=\"1s\"@@")), "parse error: wrong value"},
        {withElements(bar(with(BAR_ATTRS, "style=\"solid\"", "style=\"dashed\"@@"))), "parse error: wrong bar graph style parameter"},
        {withElements(bar(with(BAR_ATTRS, "orientation=\"hori_lr\"", "orientation=\"up\"@@"))),
         "parse error: wrong bar graph orientation parameter"},
        {withElements(bar(with(BAR_ATTRS, "ticks=\"false\"", "ticks=\"no\"@@"))), "parse error: wrong value"},
        {withElements(bar(with(BAR_ATTRS, "min=\"0\"", "min=\"low\"@@"))), "parse error: wrong value"},
        {withElements(bar(with(BAR_ATTRS, "max=\"1\"", "max=\"high\"@@"))), "parse error: wrong value"},
        {withElements(picture(with(PIC_ATTRS, "ofs=\"0\"", "ofs=\"100000000\"@@"))), "parse error: wrong value"},
        {withElements(picture(with(PIC_ATTRS, "len=\"10\"", "len=\"-1\"@@"))), "parse error: wrong value"},
        // A picture longer than any picture of the screen is refused before
        // anything is allocated for it.
        {withElements(picture(with(PIC_ATTRS, "len=\"10\"", "len=\"1000001\"@@"))), "parse error: picture length too large"},
    });
    expectFailures(cases);
}

TEST(DisplayXmlErrors, ElementStructure) {
    expectFailures({
        {withElements("<AlphaNumeric " + AN_ATTRS + "/>@@"), "parse error: expecting paramters of alphanum type"},
        {withElements("<BarGraph " + BAR_ATTRS + "/>@@"), "parse error: expecting paramters of bargraph type"},
        {withElements("<Picture " + PIC_ATTRS + "/>@@"), "parse error: expecting paramters of picture type"},
        {withElements("<AlphaNumeric title=\"a\" <@@"), "parse error: expecting paramters of alphanum type"},
        {withElements("<BarGraph title=\"a\" <@@"), "parse error: expecting paramters of barpraph type"},
        {withElements("<Picture title=\"a\" <@@"), "parse error: expecting paramters of picture type"},
        {withElements(alnum(with(AN_ATTRS, " format_str=\"%f\"", "") + ">@@" + AN_BODY + "</AlphaNumeric><x")),
         "parse error: missing attribute"},
        {withElements(with(bar(with(BAR_ATTRS, " max=\"1\"", "")), ">", ">@@")), "parse error: missing paramter"},
        {withElements(with(picture(with(PIC_ATTRS, " len=\"10\"", "")), ">", ">@@")), "parse error: missing parameter"},
        // Required children.
        {withElements(alnum(AN_ATTRS, "") + "@@"), "parse error: not all tags found"},
        {withElements(alnum(with(AN_ATTRS, "vis_mode=\"always\"", "vis_mode=\"limit\""), AN_BODY) + "@@"),
         "parse error: not all tags found"},
        {withElements(bar(BAR_ATTRS, "<DecoMiddle>" + BAR_DECO + "</DecoMiddle>") + "@@"), "parse error: not all tags found"},
        {withElements(bar(with(BAR_ATTRS, "vis_mode=\"always\"", "vis_mode=\"limit_resetable\""), BAR_BODY) + "@@"),
         "parse error: not all tags found"},
        {withElements(picture(PIC_ATTRS, "<DecoMiddle>" + PIC_DECO + "</DecoMiddle>") + "@@"), "parse error: not all tags found"},
        {withElements(picture(with(PIC_ATTRS, "vis_mode=\"always\"", "vis_mode=\"limit\""), PIC_BODY) + "@@"),
         "parse error: not all tags found"},
        // An element never closed.
        {withElements("<AlphaNumeric " + AN_ATTRS + ">" + AN_BODY + "</DisplayElements>@@"), "parse error: unexpected token"},
    });
    std::string text = "<Other a=\"1\">";
    xml_scan_s s;
    display_elem_s e;
    for (auto [parse, msg] : std::vector<std::pair<int (*)(xml_scan_s*, display_elem_s*), std::string>>{
             {[](xml_scan_s* c, display_elem_s* x) { return XmlParseAlphaNumDisplayElement(c, x, nullptr); },
              "parse error: expecting AlphaNumeric open tag"},
             {XmlParseBarGraphDisplayElement, "parse error: expecting barGraph open tag"},
             {XmlParsePictureDisplayElement, "parse error: expecting picture open tag"}}) {
        xml_scan_init(&s, text.data(), int32_t(text.size()));
        EXPECT_EQ(parse(&s, &e), -1);
        EXPECT_EQ(displayError(), msg + " in line 1 column 7");
    }
}

TEST(DisplayXmlErrors, VerbalTables) {
    auto tables = [](const std::string& body) { return withElements(alnum(), "<VerbTabs>" + body + "</VerbTabs>"); };
    expectFailures({
        {tables("<Tab @@str=\"a\" num=\"1\"/>"), "parse error: expecting vtab open tag"},
        {tables("<VerbTab>@@</VerbTab>"), "parse error: expecting vtab open tag"},
        {tables("<VerbTab name=\"a\" name=\"b\"@@ default=\"\"></VerbTab>"), "parse error: parameter name found twice"},
        {tables("<VerbTab default=\"a\" default=\"b\"@@ name=\"\"></VerbTab>"), "parse error: parameter default found twice"},
        {tables("<VerbTab name=\"a\" default=\"\"/>@@"), "parse error: expecting paramters of vtab type"},
        {tables("<VerbTab name=\"a\">@@</VerbTab>"), "not all attributes found"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab str=\"x\" num=\"1\" extra=\"1\"@@/></VerbTab>"),
         "parse error: expecting vtab tag"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab str=\"x\"/>@@</VerbTab>"), "parse error: expecting vtab tag"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab str=\"x\" num=\"1.5\"@@/></VerbTab>"), "parse error: expecting vtab tag"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab num=\"1\" num=\"1\"@@/></VerbTab>"), "parse error: expecting vtab tag"},
        {tables("<VerbTab name=\"a\" default=\"\"><Other>@@</Other></VerbTab>"), "parse error: expecting vtab tag"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab str=\"x\" num=\"5\"/><Tab str=\"y\" num=\"3\"/>@@</VerbTab>"),
         "parse error: vtabs not sorted"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab str=\"x\" num=\"-1\"/><Tab str=\"y\" num=\"3\"/>@@</VerbTab>"),
         "parse error: vtabs not sorted"},
        {tables("<VerbTab name=\"a\" default=\"\"><Tab str=\"x\" num=\"2\"/><Tab str=\"y\" num=\"2\"/>@@</VerbTab>"),
         "parse error: vtabs not sorted"},
        // Names resolve at once: a table after the pages is not there yet.
        {doc(BRIGHT + page(with(alnum(), "vtab=\"\"", "vtab=\"a\"@@")) +
             "<VerbTabs><VerbTab name=\"a\" default=\"\"></VerbTab></VerbTabs>"),
         "parse error: vtab reference not found"},
    });
    std::string text = "<VerbTabs a=\"1\">";
    xml_scan_s s;
    xml_scan_init(&s, text.data(), int32_t(text.size()));
    display_s d;
    XmlInitDisplay(&d);
    EXPECT_EQ(XmlParseVTab(&s, &d), -1);
    EXPECT_EQ(displayError(), "parse error: expecting vtabs open tag in line 1 column 10");
    XmlFreeVTabs(&d);
}

TEST(DisplayXmlErrors, SixteenBitCountsAreRefusedNotCutShort) {
    // 65535 entries in all fit; one more is refused.
    std::string entries;
    for (int i = 0; i < 65535; ++i) entries += "<Tab str=\"\" num=\"" + std::to_string(i) + "\"/>";
    std::string tables = "<VerbTabs><VerbTab name=\"a\" default=\"\">" + entries + "</VerbTab>";
    std::string fits = withElements(alnum(), tables + "</VerbTabs>");
    DisplayPtr d = loadText(fits);
    ASSERT_NE(d, nullptr) << displayError();
    char text[256] = "unchanged";
    EXPECT_EQ(XmlVTabOutput(d->vtabs, 65534, text), 0);
    EXPECT_STREQ(text, "");
    expectFailures({{withElements(alnum(), tables + "<VerbTab name=\"b\" default=\"\"><Tab str=\"\" num=\"0\"/>@@</VerbTab></VerbTabs>"),
                     "parse error: too many verbal table entries"}});

    std::string many;
    for (int i = 0; i < 65535; ++i) many += "<VerbTab name=\"\" default=\"\"></VerbTab>";
    expectFailures({{withElements(alnum(), "<VerbTabs>" + many + "@@<VerbTab name=\"\" default=\"\"></VerbTab></VerbTabs>"),
                     "parse error: too many verbal tables"}});

    // Elements: the count of the first pass is full.
    std::string one = "<Page>" + BG + "<DisplayElements>" + alnum() + "@@</DisplayElements></Page>";
    std::string clean = with(one, "@@", "");
    xml_scan_s s;
    xml_scan_init(&s, clean.data(), int32_t(clean.size()));
    uint16_t count = 0xFFFF;
    EXPECT_EQ(XmlCheckPage(&s, "Page", &count, nullptr), -1);
    EXPECT_EQ(displayError(), expectedAt(one, "parse error: too many display elements"));
    EXPECT_EQ(count, 0xFFFF);
}

class DisplayXmlLoad : public DeviceFolderTest {
protected:
    void SetUp() override {
        DeviceFolderTest::SetUp();
        takeLogTexts();
    }
};

TEST_F(DisplayXmlLoad, FailuresOfTheFile) {
    display_s* d = reinterpret_cast<display_s*>(this);   // must be cleared on failure
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(displayError(), "File not found !");
    writeFile("cfg/display.xml", "");
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(displayError(), "File not found, len invalid!");
    // Larger than any configuration: refused before the buffer is taken.
    std::filesystem::resize_file(dir + "/cfg/display.xml", kXmlFileMaxBytes + 1);
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(displayError(), "File not found, len invalid!");
    // A broken file: the parser's text, and nothing left behind.
    writeFile("cfg/display.xml", withElements(alnum(AN_ATTRS, "")));
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(displayError().rfind("parse error: not all tags found in line 6", 0), 0u) << displayError();
}

// The reader's texts stay as they are; a second line names the file and
// says what is wrong with it.
TEST_F(DisplayXmlLoad, FailuresNameTheFileAndTheCause) {
    display_s* d = nullptr;
    writeFile("cfg/display.xml", "");
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(displayError(), "File not found, len invalid!");
    EXPECT_EQ(takeLogTexts(), std::vector<std::string>{"XmlLoad(): cfg:/display.xml is empty"});
    std::filesystem::resize_file(dir + "/cfg/display.xml", 50000000);
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(displayError(), "File not found, len invalid!");
    EXPECT_EQ(takeLogTexts(), std::vector<std::string>{"XmlLoad(): cfg:/display.xml is too large (50000000 bytes)"});
    writeFile("cfg/display.xml", "\x01garbage");
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(takeLogTexts(), std::vector<std::string>{"XmlLoad(): cfg:/display.xml: " + displayError()});
    std::filesystem::remove(dir + "/cfg/display.xml");
    std::filesystem::create_symlink("display.xml", dir + "/cfg/display.xml");
    EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
    EXPECT_EQ(displayError(), "File not found, len invalid!");
    EXPECT_EQ(takeLogTexts(), std::vector<std::string>{"XmlLoad(): cfg:/display.xml is a link loop"});
}

// A NUL byte would cut an attribute's value short, and between elements the
// tokenizer takes it for a blank: the file is refused with the place of the
// byte, counted as the other configuration readers count it.
TEST_F(DisplayXmlLoad, ANulByteIsNamedWhereItStands) {
    const std::string good = withElements(alnum());
    display_s* d = nullptr;
    writeFile("cfg/display.xml", good);
    ASSERT_EQ(XmlLoad("cfg:/display.xml", &d), 0) << displayError();
    XmlFreeDisplay(d);
    takeLogTexts();
    const std::pair<std::string, std::string> cases[] = {
        {with(good, "title=\"t", std::string("title=\"t\0", 9)), "NUL byte in line 6 column 37"},
        {with(good, "<DisplayElements>", std::string("\0<DisplayElements>", 18)), "NUL byte in line 5 column 1"},
    };
    for (const auto& [text, says] : cases) {
        writeFile("cfg/display.xml", text);
        d = nullptr;
        EXPECT_EQ(XmlLoad("cfg:/display.xml", &d), -1);
        EXPECT_EQ(d, nullptr);
        EXPECT_EQ(displayError(), says);
        EXPECT_EQ(takeLogTexts(), std::vector<std::string>{"XmlLoad(): " + says + " of cfg:/display.xml"});
    }
}
