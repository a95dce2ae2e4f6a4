// A small pull parser over expat.
//
// expat is a push (callback) parser; the configuration readers pull tokens
// one by one. The parser is suspended after each start or end tag and resumed
// when the reader wants the next one, so memory stays bounded whatever the
// size of the text. Events carry the line and column (both counted from 1)
// where their markup starts. A syntax error is delivered as an Error event at
// the place it was found, after everything before it, and stays the last
// event.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <utility>
#include <vector>

struct XmlPullEvent {
    enum Type { StartTag, EndTag, EndDocument, Error };
    Type type = EndDocument;
    std::string name;                                        // element name, or error text
    std::vector<std::pair<std::string, std::string>> attrs;  // StartTag only
    std::string text;                                        // EndTag: character data of the element
    bool empty = false;                                      // EndTag of "<a/>"
    int line = 0;
    int column = 0;
};

class XmlPullParser {
public:
    // The text must stay valid while the parser is used.
    XmlPullParser(const char* text, size_t len);
    ~XmlPullParser();
    XmlPullParser(const XmlPullParser&) = delete;
    XmlPullParser& operator=(const XmlPullParser&) = delete;

    // The next event without taking it.
    const XmlPullEvent& peek();
    // Takes the next event; EndDocument and Error repeat forever.
    XmlPullEvent next();

    // expat call-backs
    void onStart(const char* name, const char** atts);
    void onEnd(const char* name);
    void onText(const char* s, int len);

private:
    void fill();
    void finish(bool ok);

    struct XML_ParserStruct* parser_ = nullptr;
    const char* text_;
    size_t len_;
    bool started_ = false;
    bool done_ = false;                 // EndDocument or Error queued
    std::deque<XmlPullEvent> queue_;
    std::vector<std::string> open_;     // character data per open element
};
