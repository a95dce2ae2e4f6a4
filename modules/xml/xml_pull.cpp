#include "xml/xml_pull.h"

#include <expat.h>

#include <climits>

namespace {

void XMLCALL startHandler(void* user, const XML_Char* name, const XML_Char** atts) {
    static_cast<XmlPullParser*>(user)->onStart(name, atts);
}
void XMLCALL endHandler(void* user, const XML_Char* name) { static_cast<XmlPullParser*>(user)->onEnd(name); }
void XMLCALL textHandler(void* user, const XML_Char* s, int len) {
    static_cast<XmlPullParser*>(user)->onText(s, len);
}

}  // namespace

XmlPullParser::XmlPullParser(const char* text, size_t len) : text_(text ? text : ""), len_(text ? len : 0) {
    // expat takes an int length; configuration texts are far below it
    if (len_ > static_cast<size_t>(INT_MAX)) len_ = INT_MAX;
    parser_ = XML_ParserCreate(nullptr);
    if (!parser_) {
        XmlPullEvent ev;
        ev.type = XmlPullEvent::Error;
        ev.name = "Out of memory error";
        ev.line = 1;
        ev.column = 1;
        queue_.push_back(ev);
        done_ = true;
        return;
    }
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, startHandler, endHandler);
    XML_SetCharacterDataHandler(parser_, textHandler);
}

XmlPullParser::~XmlPullParser() {
    if (parser_) XML_ParserFree(parser_);
}

void XmlPullParser::onStart(const char* name, const char** atts) {
    XmlPullEvent ev;
    ev.type = XmlPullEvent::StartTag;
    ev.name = name;
    for (int i = 0; atts[i] && atts[i + 1]; i += 2) ev.attrs.emplace_back(atts[i], atts[i + 1]);
    ev.line = static_cast<int>(XML_GetCurrentLineNumber(parser_));
    ev.column = static_cast<int>(XML_GetCurrentColumnNumber(parser_)) + 1;
    queue_.push_back(std::move(ev));
    open_.emplace_back();
    // expat still reports the end of "<a/>" before it suspends
    XML_ParsingStatus st;
    XML_GetParsingStatus(parser_, &st);
    if (st.parsing == XML_PARSING) XML_StopParser(parser_, XML_TRUE);
}

void XmlPullParser::onEnd(const char* name) {
    XmlPullEvent ev;
    ev.type = XmlPullEvent::EndTag;
    ev.name = name;
    // the end of "<a/>" has no bytes of its own
    ev.empty = XML_GetCurrentByteCount(parser_) == 0;
    if (!open_.empty()) {
        ev.text = std::move(open_.back());
        open_.pop_back();
    }
    ev.line = static_cast<int>(XML_GetCurrentLineNumber(parser_));
    ev.column = static_cast<int>(XML_GetCurrentColumnNumber(parser_)) + 1;
    queue_.push_back(std::move(ev));
    XML_ParsingStatus st;
    XML_GetParsingStatus(parser_, &st);
    if (st.parsing == XML_PARSING) XML_StopParser(parser_, XML_TRUE);
}

void XmlPullParser::onText(const char* s, int len) {
    if (!open_.empty() && len > 0) open_.back().append(s, static_cast<size_t>(len));
}

void XmlPullParser::finish(bool ok) {
    XmlPullEvent ev;
    if (ok) {
        ev.type = XmlPullEvent::EndDocument;
        ev.line = static_cast<int>(XML_GetCurrentLineNumber(parser_));
        ev.column = static_cast<int>(XML_GetCurrentColumnNumber(parser_)) + 1;
    } else {
        ev.type = XmlPullEvent::Error;
        const XML_LChar* msg = XML_ErrorString(XML_GetErrorCode(parser_));
        ev.name = msg ? msg : "XML error";
        ev.line = static_cast<int>(XML_GetErrorLineNumber(parser_));
        ev.column = static_cast<int>(XML_GetErrorColumnNumber(parser_)) + 1;
    }
    queue_.push_back(std::move(ev));
    done_ = true;
}

// Runs the parser until at least one event is queued.
void XmlPullParser::fill() {
    while (queue_.empty() && !done_) {
        XML_Status st;
        if (!started_) {
            started_ = true;
            st = XML_Parse(parser_, text_, static_cast<int>(len_), XML_TRUE);
        } else {
            st = XML_ResumeParser(parser_);
        }
        if (st == XML_STATUS_ERROR) finish(false);
        else if (st == XML_STATUS_OK) finish(true);
        // XML_STATUS_SUSPENDED: a tag was queued
    }
}

const XmlPullEvent& XmlPullParser::peek() {
    fill();
    return queue_.front();
}

XmlPullEvent XmlPullParser::next() {
    fill();
    XmlPullEvent ev = queue_.front();
    // the final event stays, so the end (or the error) repeats
    if (queue_.size() > 1 || !done_) queue_.pop_front();
    return ev;
}
