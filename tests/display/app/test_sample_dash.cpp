// The sample dash as a new user first sees it: every page of the sample's
// display.xml, shown by the display application and driven to the extreme
// values of the sample's stimulus. Each value's text lies inside its box in
// its font, each bar keeps room for its bar, its tick labels and its title.
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "display/views/cbarview.h"
#include "display/views/cdispbox.h"
#include "display_app_fixture.h"
#include "measurement/stimulus.h"

namespace {

std::string sampleText(const std::string& name) {
    const char* env = std::getenv("TAV9_SOURCE_DIR");
    for (std::string root : {std::string(env ? env : "."), std::string("."), std::string("..")}) {
        std::ifstream f(root + "/sample/" + name, std::ios::binary);
        if (!f) continue;
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    return "";
}

// A signal of the stimulus and the values its shape passes through at its
// ends (every value of a step shape).
struct Driven {
    std::string name;
    std::vector<double> extremes;
};

std::vector<Driven> stimulusExtremes(const std::string& text) {
    std::vector<Driven> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream ls(line);
        Driven d;
        std::string shape;
        double a = 0, b = 0;
        if (!(ls >> d.name >> shape >> a)) continue;
        ls >> b;
        if (shape == "const") d.extremes = {a};
        else if (shape == "sine") d.extremes = {a - b, a + b};
        else if (shape == "steps")
            for (double v = a; v <= b; ++v) d.extremes.push_back(v);
        else d.extremes = {a, b};
        out.push_back(d);
    }
    return out;
}

// Stimulus texts that hold every signal constant: each signal through each of
// its extremes while the others stay at their first.
std::vector<std::string> extremeSets(const std::vector<Driven>& signals) {
    std::vector<std::string> sets;
    for (size_t i = 0; i < signals.size(); ++i) {
        for (double v : signals[i].extremes) {
            std::string s;
            for (size_t k = 0; k < signals.size(); ++k) {
                char line[100];
                std::snprintf(line, sizeof line, "%s const %.6g\n", signals[k].name.c_str(),
                              k == i ? v : signals[k].extremes.front());
                s += line;
            }
            sets.push_back(s);
        }
    }
    return sets;
}

class SampleDash : public DisplayAppTest {
protected:
    void TearDown() override {
        stimulus_clear();
        DisplayAppTest::TearDown();
    }

    // The sample device is PID 1, the stand-in device of the tests kOwnPid;
    // the pictures the file names go into cfg/ beside it.
    std::string sampleDisplay() {
        std::string xml = sampleText("cfg/display.xml");
        char own[16];
        std::snprintf(own, sizeof own, "adr=\"%02X", unsigned(kOwnPid));
        xml = std::regex_replace(xml, std::regex("adr=\"01"), own);
        const std::regex picture("filename=\"cfg:/([^\"]+)\"");
        for (auto it = std::sregex_iterator(xml.begin(), xml.end(), picture); it != std::sregex_iterator(); ++it)
            writeFile("cfg/" + (*it)[1].str(), sampleText("cfg/" + (*it)[1].str()));
        return xml;
    }

    // The text of a box as its prompt draws it, against the prompt's and the
    // box's client rectangles.
    void expectTextInside(const CDispBox& b, int page) {
        GuiScreen* s = GuiThing::mpScreen;
        const int k = KorvaFonts_isDouble(FontSizeType_t(b.element->alphanum.font_size)) ? 2 : 1;
        const GuiRect& r = b.prompt->mClient;
        const GuiRect& c = b.mClient;
        // a label (a box without a value) shows its format text
        const char* text = b.valueSource ? b.text : b.element->alphanum.format_str;
        const int tw = k * s->TextWidth(text, b.textFont, -1), th = k * s->TextHeight(text, b.textFont);
        char size[120];
        std::snprintf(size, sizeof size, " (%dx%d in (%d,%d)-(%d,%d))", tw, th, r.left, r.top, r.right, r.bottom);
        const std::string what =
            "page " + std::to_string(page + 1) + " box '" + b.title + "' text '" + text + "'" + size;
        EXPECT_NE(text[0], 0) << what;
        EXPECT_LE(tw, r.right - r.left + 1) << what << ": too wide";
        EXPECT_LE(th, r.bottom - r.top + 1) << what << ": too high";
        EXPECT_TRUE(r.left >= c.left && r.right <= c.right && r.top >= c.top && r.bottom <= c.bottom) << what;
        EXPECT_LE(int(b.titles.width), c.right - c.left + 1) << what << ": title too wide";
    }

    void expectBarRoom(const CBarView& g, int page) {
        GuiScreen* s = GuiThing::mpScreen;
        const bargraph_s& e = g.element->bargraph;
        const GuiRect& c = g.mClient;
        const std::string what = "page " + std::to_string(page + 1) + " bar '" + g.title + "'";
        EXPECT_GE(g.barRect.right - g.barRect.left + 1, 12) << what << ": no width for the bar";
        EXPECT_GE(g.barRect.bottom - g.barRect.top + 1, 12) << what << ": no height for the bar";
        EXPECT_LE(int(g.titles.width), c.right - c.left + 1) << what << ": title too wide";
        if (!e.ticks) return;
        const GuiFont* tiny = Korva_getFont(FONT_TINY);
        const bool horizontal = e.orientation == BARGR_HORI_LR || e.orientation == BARGR_HORI_RL;
        for (int i = 0; i < e.tick_count; ++i) {
            const char* name = e.tick_list[i].name;
            const int w = s->TextWidth(name, tiny, -1), h = s->TextHeight(name, tiny);
            const GuiPoint p = g.labelPos[i];
            const std::string label = what + " tick '" + name + "'";
            // a vertical bar's labels are one character wide
            if (!horizontal) {
                EXPECT_LE(w, s->TextWidth("0", tiny, -1)) << label << ": cut";
            }
            // a label's bitmap is opaque: it stays inside the frame's lines
            // (two pixels wide, 5 in from the client edge) and off the title
            const int w0 = horizontal ? w : s->TextWidth("0", tiny, -1);
            const int in = g.frameStyle ? 7 : 0;
            EXPECT_GE(p.x, c.left + in) << label;
            EXPECT_LE(p.x + w0 - 1, c.right - in) << label;
            EXPECT_GE(p.y, c.top + in) << label;
            EXPECT_LE(p.y + h - 1, c.bottom - in) << label;
            if (g.titles.current) {
                const GuiRect t(g.titles.pos.x, g.titles.pos.y, g.titles.pos.x + int(g.titles.width) - 1,
                                g.titles.pos.y + int(g.titles.height) - 1);
                const bool apart = p.x + w0 - 1 < t.left || p.x > t.right || p.y + h - 1 < t.top || p.y > t.bottom;
                EXPECT_TRUE(apart) << label << ": under the title";
            }
        }
    }
};

TEST_F(SampleDash, EveryValueFitsItsBoxOverTheStimulusRange) {
    StartWith(sampleDisplay());
    ASSERT_NE(container->config, nullptr);
    const auto signals = stimulusExtremes(sampleText("stimulus.cfg"));
    ASSERT_GE(signals.size(), 10u);
    const auto sets = extremeSets(signals);
    uint64_t ms = 0;
    std::set<std::string> boxesSeen;
    for (int page = 0; page < container->config->page_count; ++page) {
        displaySwitchPage(unsigned(page));
        Dispatch();
        CDispPage* p = Current();
        ASSERT_NE(p, nullptr);
        int values = 0;
        for (const std::string& set : sets) {
            ASSERT_EQ(stimulus_load(set), int(signals.size()));
            stimulus_step(ms += 20);
            Produce();
            Refresh();
            for (int i = 0; i < p->elemCount; ++i) {
                CDataView* v = p->elems->GetElem(short(i));
                if (auto* b = dynamic_cast<CDispBox*>(v)) {
                    expectTextInside(*b, page);
                    boxesSeen.insert(std::to_string(page) + b->title + b->element->alphanum.format_str);
                    values += b->valueSource != nullptr;
                }
            }
        }
        EXPECT_GT(values, 0) << "page " << page + 1 << " shows no value";
        for (int i = 0; i < p->elemCount; ++i)
            if (auto* g = dynamic_cast<CBarView*>(p->elems->GetElem(short(i)))) expectBarRoom(*g, page);
    }
    EXPECT_GE(boxesSeen.size(), 12u);
}

TEST_F(SampleDash, BrightnessComesFromASwitchOfItsOwnHeldAtABrightStep) {
    StartWith(sampleDisplay());
    const display_s* cfg = container->config;
    ASSERT_NE(cfg, nullptr);
    const uint32_t input = cfg->brightness_in.adr;
    ASSERT_NE(input, 0u);
    // no value the dash shows (an alarm of it would dim the screen)
    for (int page = 0; page < cfg->page_count; ++page) {
        displaySwitchPage(unsigned(page));
        Dispatch();
        ASSERT_NE(Current(), nullptr);
        for (int i = 0; i < Current()->elemCount; ++i) {
            const CDataView* v = Current()->elems->GetElem(short(i));
            for (CDataType_t k : {CDATA_VALUE, CDATA_VISIBILITY}) {
                const CData* d = v ? v->getData(k) : nullptr;
                if (!d) continue;
                EXPECT_NE(d->address & 0xFFFFFFu, input & 0xFFFFFFu) << "page " << page + 1 << " element " << i;
            }
        }
    }
    // every set of the stimulus's extremes holds it at a step of 80 % or more
    const auto signals = stimulusExtremes(sampleText("stimulus.cfg"));
    uint64_t ms = 0;
    for (const std::string& set : extremeSets(signals)) {
        ASSERT_EQ(stimulus_load(set), int(signals.size()));
        stimulus_step(ms += 20);
        Produce();
        int position = 0;
        unsigned char updated = 0;
        ASSERT_EQ(displayGetBrightnessChan(&position, &updated), 1);
        ASSERT_GE(position, 1) << set;
        ASSERT_LE(position, int(cfg->perc_count)) << set;
        EXPECT_GE(cfg->perc[position - 1], 80) << set;
    }
}

}  // namespace
