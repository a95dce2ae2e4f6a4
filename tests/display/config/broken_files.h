// Building blocks of small display.xml files for the error tests. A case text
// holds the marker "@@" where the reader stands when it reports the error;
// the expected line and column are taken from the marker.
#pragma once

#include <string>

namespace broken {

inline const std::string DECL = "<?xml version=\"1.0\"?>\r\n";
inline const std::string DISPLAY = "<Display version=\"1.0\" x_res=\"640\" y_res=\"480\">\r\n";
inline const std::string BRIGHT = "<Brightness><perc value=\"50\"/></Brightness>\r\n";
inline const std::string BLACK = R"(red="0" green="0" blue="0")";
inline const std::string BG = "<BGCol " + BLACK + "/>";

inline std::string colours(std::initializer_list<const char*> names) {
    std::string s;
    for (const char* n : names) s += std::string("<") + n + " " + BLACK + "/>";
    return s;
}

inline const std::string FIVE = colours({"BGCol", "TitleBGCol", "TitleFGCol", "BorderBGCol", "BorderFGCol"});
inline const std::string AN_DECO = "<AlphaNumDeco style=\"none\">" + FIVE + colours({"TextBGCol", "TextFGCol"}) +
                                   "</AlphaNumDeco>";
inline const std::string BAR_DECO = "<BarGraphDeco style=\"none\">" + FIVE +
                                    colours({"BarBGCol", "BarFGCol", "TicksCol"}) + "</BarGraphDeco>";
inline const std::string PIC_DECO = "<PictureDeco style=\"none\">" + FIVE + "</PictureDeco>";

inline const std::string CH_ATTRS =
    R"(adr="1" type="FLOAT" quant_a="0" quant_b="1" quant_c="0" quant_d="0" quant_e="0" quant_f="1")";
inline std::string channel(const std::string& tag) { return "<" + tag + " " + CH_ATTRS + "/>"; }

inline const std::string HEAD =
    R"(version="1.0" title="t" vis_mode="always" always_on_top="false" prio="1" pos_x="0" pos_y="0" size_x="10" size_y="10")";
inline const std::string AN_ATTRS = HEAD + R"( font_size="normal" align="MM" dispmode="normal" vtab="" format_str="%f")";
inline const std::string BAR_ATTRS =
    HEAD + R"( style="solid" orientation="hori_lr" ticks="false" min="0" max="1")";
inline const std::string PIC_ATTRS = HEAD + R"( filename="cfg:/p.png" ofs="0" len="10")";

inline const std::string AN_BODY = "<DecoMiddle>" + AN_DECO + "</DecoMiddle>";
inline const std::string BAR_BODY = channel("ChInput") + "<DecoMiddle>" + BAR_DECO + "</DecoMiddle>";
inline const std::string PIC_BODY = "<TransparentCol " + BLACK + "/><DecoMiddle>" + PIC_DECO + "</DecoMiddle>";

inline std::string alnum(const std::string& attrs = AN_ATTRS, const std::string& body = AN_BODY) {
    return "<AlphaNumeric " + attrs + ">" + body + "</AlphaNumeric>";
}
inline std::string bar(const std::string& attrs = BAR_ATTRS, const std::string& body = BAR_BODY) {
    return "<BarGraph " + attrs + ">" + body + "</BarGraph>";
}
inline std::string picture(const std::string& attrs = PIC_ATTRS, const std::string& body = PIC_BODY) {
    return "<Picture " + attrs + ">" + body + "</Picture>";
}

// One page holding the elements (on a line of their own).
inline std::string page(const std::string& elements) {
    return "<Pages><Page>" + BG + "\r\n<DisplayElements>\r\n" + elements + "\r\n</DisplayElements></Page></Pages>\r\n";
}

// A document: declaration, Display, the body, the end of Display.
inline std::string doc(const std::string& body) { return DECL + DISPLAY + body + "</Display>\r\n"; }
// A document with Brightness and one page of the elements.
inline std::string withElements(const std::string& elements, const std::string& before = "") {
    return doc(BRIGHT + before + page(elements));
}

// s with the first from replaced by to.
inline std::string with(std::string s, const std::string& from, const std::string& to) {
    size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

}  // namespace broken
