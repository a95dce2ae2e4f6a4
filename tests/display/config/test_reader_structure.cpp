// What the reader makes of files that load: defaults, dropped elements,
// skipped elements of other names, repeated parts and the element block.
#include "display/config/broken_files.h"
#include "display/config/display_xml_fixture.h"

#include <cstdio>
#include <vector>

using namespace broken;

namespace {

std::vector<const display_elem_s*> list(const page_s& p) {
    std::vector<const display_elem_s*> v;
    for (const display_elem_s* e = p.elements; e; e = e->next) v.push_back(e);
    EXPECT_EQ(v.size(), p.count);
    return v;
}

std::string prio(std::string element, int p) { return with(element, "prio=\"1\"", "prio=\"" + std::to_string(p) + "\""); }
std::string version(std::string element, const char* v) { return with(element, "version=\"1.0\"", std::string("version=\"") + v + "\""); }

}  // namespace

TEST(DisplayXmlReader, DefaultsOfWhatTheFileLeavesOut) {
    DisplayPtr d = loadText(withElements(alnum()));
    ASSERT_NE(d, nullptr) << displayError();
    EXPECT_EQ(d->all_pages.used, 1);
    EXPECT_EQ(d->all_pages.count, 0);
    EXPECT_EQ(d->all_pages.elements, nullptr);
    for (const awm_meas_in* in : {&d->reset_in, &d->page_in, &d->brightness_in}) {
        EXPECT_EQ(in->adr, 0u);
        EXPECT_EQ(in->mask, 0xFFFFFFFFu);
        EXPECT_EQ(in->type, 0);
        EXPECT_EQ(in->quant_a, 0.0f);
        EXPECT_EQ(in->quant_f, 0.0f);
    }
    EXPECT_EQ(d->vtabs, nullptr);
    EXPECT_EQ(d->page_count, 1);
    EXPECT_EQ(d->pages[1].used, 0);
    ASSERT_EQ(d->pages[0].count, 1);
    const alphanum_s& a = d->pages[0].elements->alphanum;
    // vis_mode always with a DecoMiddle and nothing else is a whole box.
    EXPECT_EQ(a.ch_in.adr, 0u);
    EXPECT_EQ(a.ch_in.type, 0);
    EXPECT_EQ(a.ch_in.mask, 0xFFFFFFFFu);
    EXPECT_EQ(a.has_lower, 0);
    EXPECT_EQ(a.has_upper, 0);
    EXPECT_EQ(a.vtab, nullptr);
    EXPECT_EQ(a.blink, BLINK_OFF);
    EXPECT_EQ(a.min_disp_time, 0u);
}

TEST(DisplayXmlReader, ValuesAsTheFormatWritesThem) {
    std::string el = with(alnum(), "title=\"t\"", "title=\"&lt;&#65;&gt; x\"");
    el = with(el, "<TextFGCol " + BLACK, "<TextFGCol red=\"FF\" green=\"80\" blue=\"a\"");
    el = with(el, "<DecoMiddle>", "<ChInput adr=\"FFFFFFFF\" type=\"SINT16\" mask=\"ff00\" quant_a=\"1e-3\" quant_b=\"-2\" "
                                  "quant_c=\"+.5\" quant_d=\"\" quant_e=\"7abc\" quant_f=\"1\" other=\"x\"/><DecoMiddle>");
    std::string tab10 = "<TickList><Tab name=\"abcdefghij\" value=\"-1.5\"/><Tab value=\"2\" name=\"x\"/></TickList>";
    DisplayPtr d = loadText(withElements(el + prio(bar(BAR_ATTRS, BAR_BODY + tab10), 2)));
    ASSERT_NE(d, nullptr) << displayError();
    auto e = list(d->pages[0]);
    ASSERT_EQ(e.size(), 2u);
    const alphanum_s& a = e[0]->alphanum;
    EXPECT_STREQ(a.title, "<A> x");
    EXPECT_EQ(a.deco_middle.TextFGCol.red, 255);
    EXPECT_EQ(a.deco_middle.TextFGCol.green, 128);
    EXPECT_EQ(a.deco_middle.TextFGCol.blue, 10);
    EXPECT_EQ(a.ch_in.adr, 0xFFFFFFFFu);
    EXPECT_EQ(a.ch_in.type, TE_SINT16);
    EXPECT_EQ(a.ch_in.mask, 0xFF00u);
    EXPECT_FLOAT_EQ(a.ch_in.quant_a, 0.001f);
    EXPECT_EQ(a.ch_in.quant_b, -2.0f);
    EXPECT_EQ(a.ch_in.quant_c, 0.5f);
    EXPECT_EQ(a.ch_in.quant_d, 0.0f);
    EXPECT_EQ(a.ch_in.quant_e, 7.0f);
    const bargraph_s& b = e[1]->bargraph;
    ASSERT_EQ(b.tick_count, 2);
    EXPECT_STREQ(b.tick_list[0].name, "abcdefg");   // cut to 7
    EXPECT_EQ(b.tick_list[0].value, -1.5f);
    EXPECT_STREQ(b.tick_list[1].name, "x");
    EXPECT_EQ(b.min, 0.0f);
    EXPECT_EQ(b.max, 1.0f);
}

TEST(DisplayXmlReader, TwentyTicksFit) {
    std::string tabs = "<TickList>";
    for (int i = 0; i < 20; ++i) tabs += "<Tab name=\"t\" value=\"" + std::to_string(i) + "\"/><Skip a=\"1\"><x/></Skip>";
    DisplayPtr d = loadText(withElements(bar(BAR_ATTRS, BAR_BODY + tabs + "</TickList>")));
    ASSERT_NE(d, nullptr) << displayError();
    const bargraph_s& b = d->pages[0].elements->bargraph;
    EXPECT_EQ(b.tick_count, 20);
    EXPECT_EQ(b.tick_list[19].value, 19.0f);
}

TEST(DisplayXmlReader, ElementsOfAnotherVersionAreReadButDropped) {
    // Its children would fail their own parsers; they only have to nest.
    std::string old = version(alnum(AN_ATTRS, "<DecoMiddle><AlphaNumDeco style=\"wrong\"></AlphaNumDeco></DecoMiddle><a><b/></a>"),
                              "0.9");
    std::string elements = prio(alnum(), 3) + prio(version(bar(), "2.0"), 1) + old + prio(picture(), 4) +
                           prio(version(picture(), "1.01"), 9);
    DisplayPtr d = loadText(withElements(elements));
    ASSERT_NE(d, nullptr) << displayError();
    auto e = list(d->pages[0]);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0]->type, DISP_ELEM_ALPHANUM);
    EXPECT_EQ(e[0]->prio, 3u);
    EXPECT_EQ(e[1]->type, DISP_ELEM_PICTURE);
    EXPECT_EQ(e[1]->prio, 4u);
    EXPECT_EQ(e[1]->next, nullptr);
    // All five were read into the block, which has room for one more.
    EXPECT_EQ(d->elem_capacity, 6u);
    EXPECT_GE(e[0], d->elem_block);
    EXPECT_LT(e[1], d->elem_block + d->elem_capacity);
}

TEST(DisplayXmlReader, ElementsOfOtherNamesAreSkippedEverywhere) {
    const std::string junk = "<Junk a=\"1\"><Deeper><Deepest b=\"2\"/></Deeper></Junk><!-- note -->";
    std::string el = alnum(AN_ATTRS, junk + with(AN_BODY, "<BGCol", junk + "<BGCol") + junk);
    // A DecoLower without attributes is no band.
    el = with(el, "<DecoMiddle>", "<DecoLower><AlphaNumDeco/></DecoLower><DecoMiddle>");
    std::string body = junk + BRIGHT + junk + "<Pages><Page>" + junk + BG + "<DisplayElements>" + junk + el + junk +
                       "</DisplayElements>" + junk + "</Page></Pages>" + junk;
    DisplayPtr d = loadText(doc(body));
    ASSERT_NE(d, nullptr) << displayError();
    ASSERT_EQ(d->pages[0].count, 1);
    EXPECT_EQ(d->pages[0].elements->alphanum.has_lower, 0);
}

TEST(DisplayXmlReader, PictureChildren) {
    std::string body = "<ChInput " + CH_ATTRS + "/><DecoLower Limit=\"1\" hyst=\"1\"><x/></DecoLower>" +
                       "<TransparentCol red=\"1\" green=\"2\" blue=\"3\"/>" + PIC_BODY;
    DisplayPtr d = loadText(withElements(picture(with(PIC_ATTRS, "ofs=\"0\" len=\"10\"", "ofs=\"ffffffff\" len=\"1000000\""), body)));
    ASSERT_NE(d, nullptr) << displayError();
    const picture_elem_s& p = d->pages[0].elements->picture;
    // The later TransparentCol replaces the earlier.
    EXPECT_EQ(p.pic.TransparentCol.red, 0);
    EXPECT_EQ(p.pic.ofs, 0xFFFFFFFFu);
    EXPECT_EQ(p.pic.len, DISPLAY_PICTURE_MAX_LEN);
    EXPECT_STREQ(p.pic.filename, "cfg:/p.png");
    // Such a picture lies beyond any file.
    EXPECT_EQ(picture_range_ok(&p.pic, 0x7FFFFFFF), 0);
}

TEST(DisplayXmlReader, PictureRangeAgainstItsFile) {
    picture_s pic{};
    pic.ofs = 100;
    pic.len = 50;
    EXPECT_EQ(picture_range_ok(&pic, 150), 1);
    EXPECT_EQ(picture_range_ok(&pic, 149), 0);
    EXPECT_EQ(picture_range_ok(&pic, -1), 0);
    EXPECT_EQ(picture_range_ok(nullptr, 1000), 0);
    pic.ofs = 0xFFFFFFF0u;   // no wrap-around of ofs + len
    pic.len = 0x20;
    EXPECT_EQ(picture_range_ok(&pic, 0x20), 0);
    pic.ofs = 0;
    pic.len = DISPLAY_PICTURE_MAX_LEN + 1;
    EXPECT_EQ(picture_range_ok(&pic, long(DISPLAY_PICTURE_MAX_LEN) * 2), 0);
}

TEST(DisplayXmlReader, RepeatedPartsReplaceEarlierOnes) {
    std::string before = "<Brightness><perc value=\"1\"/><perc value=\"2\"/></Brightness>" + channel("PageInput") +
                         with(channel("PageInput"), "adr=\"1\"", "adr=\"2\"") +
                         "<VerbTabs><VerbTab name=\"a\" default=\"first\"></VerbTab></VerbTabs>"
                         "<VerbTabs><VerbTab name=\"a\" default=\"second\"></VerbTab></VerbTabs>";
    std::string el = alnum(with(AN_ATTRS, "vtab=\"\"", "vtab=\"a\""), AN_BODY + with(AN_BODY, "style=\"none\"", "style=\"double_line\""));
    DisplayPtr d = loadText(withElements(el, before));
    ASSERT_NE(d, nullptr) << displayError();
    EXPECT_EQ(d->perc_count, 2);   // the later Brightness of the two
    EXPECT_EQ(d->perc[0], 1);
    EXPECT_EQ(d->perc[1], 2);
    EXPECT_EQ(d->page_in.adr, 2u);
    ASSERT_NE(d->vtabs, nullptr);
    EXPECT_STREQ(d->vtabs->default_text, "second");
    EXPECT_EQ(d->vtabs->next, nullptr);
    const alphanum_s& a = d->pages[0].elements->alphanum;
    EXPECT_EQ(a.vtab, d->vtabs);
    EXPECT_EQ(a.deco_middle.style, STYLE_DOUBLE_LINE);
}

TEST(DisplayXmlReader, TwelvePagesAndTheCommonPage) {
    std::string pages = "<Pages>";
    for (int i = 0; i < 12; ++i) {
        char bg[64];
        snprintf(bg, sizeof bg, "<BGCol red=\"%x\" green=\"0\" blue=\"0\"/>", i);
        // Elements of one page in two DisplayElements, the order running on.
        pages += "<Page><DisplayElements>" + prio(alnum(), 1) + "</DisplayElements>" + bg + "<DisplayElements>" +
                 prio(bar(), 2) + std::string(i + 1, ' ') + "</DisplayElements></Page>";
    }
    pages += "</Pages>";
    std::string all = "<AllPages><DisplayElements>" + prio(picture(), 7) + "</DisplayElements></AllPages>";
    DisplayPtr d = loadText(doc(BRIGHT + pages + all));
    ASSERT_NE(d, nullptr) << displayError();
    EXPECT_EQ(d->page_count, 12);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(d->pages[i].used, 1);
        EXPECT_EQ(d->pages[i].bg_col.red, i);
        auto e = list(d->pages[i]);
        ASSERT_EQ(e.size(), 2u);
        EXPECT_EQ(e[0]->type, DISP_ELEM_ALPHANUM);
        EXPECT_EQ(e[1]->type, DISP_ELEM_BARGRAPH);
    }
    ASSERT_EQ(d->all_pages.count, 1);
    EXPECT_EQ(d->all_pages.elements->prio, 7u);
    EXPECT_EQ(d->all_pages.bg_col.red, 0);
    EXPECT_EQ(d->elem_capacity, 26u);
}

TEST(DisplayXmlReader, NothingAfterTheEndOfDisplayIsRead) {
    DisplayPtr d = loadText(withElements(alnum()) + "<broken");
    EXPECT_NE(d, nullptr) << displayError();
}
