// Reader of the modem's JSON status objects.
#include "virari/telemetry/tele_json.h"

namespace {
JsonParse json;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

void JsonParse::setBuff(const char* buffer, size_t length) {
    start_ = buffer;
    pos_ = buffer;
    length_ = buffer ? length : 0;
    taken_ = 0;
    putBack_ = 0;
    state_ = 0;
}

bool JsonParse::getNextChar(char* c) {
    if (putBack_) {
        *c = putBack_;
        putBack_ = 0;
        return true;
    }
    if (taken_ >= length_ || *pos_ == 0) return false;
    *c = *pos_++;
    ++taken_;
    return true;
}

void JsonParse::putBackChar(char c) { putBack_ = c; }

bool JsonParse::numberChar(char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+'; }

bool JsonParse::parseString(char* out, size_t size) {
    size_t n = 0;
    auto store = [&](char c) {
        if (n + 1 < size) out[n++] = c;
    };
    if (size) out[0] = 0;
    char c;
    if (!getNextChar(&c)) return false;
    bool closed = false;
    if (c == '"') {
        while (getNextChar(&c)) {
            if (c == '"') {
                closed = true;
                break;
            }
            store(c);
        }
    } else {
        putBackChar(c);
        while (getNextChar(&c)) {
            if (!numberChar(c)) {
                putBackChar(c);
                closed = true;
                break;
            }
            store(c);
        }
    }
    if (size) out[n] = 0;
    return closed;
}

bool JsonParse::getNext(char* key, size_t keySize, char* value, size_t valueSize) {
    char c;
    for (;;) {
        switch (state_) {
        case 0:
            if (!getNextChar(&c)) return false;
            if (c == '{') state_ = 1;
            break;
        case 1:
            // Blanks between the tokens are skipped, so that "key": value
            // with the usual spacing reads like the compact form.
            do {
                if (!getNextChar(&c)) return false;
            } while (isBlank(c));
            putBackChar(c);
            if (!parseString(key, keySize)) return false;
            state_ = 2;
            break;
        case 2:
            if (!getNextChar(&c)) return false;
            if (c == ':') state_ = 3;
            break;
        case 3:
            do {
                if (!getNextChar(&c)) return false;
            } while (isBlank(c));
            putBackChar(c);
            if (!parseString(value, valueSize)) return false;
            state_ = 4;
            return true;
        default:
            if (!getNextChar(&c)) return false;
            if (c == '}') return false;
            if (c == ',') state_ = 1;
            break;
        }
    }
}

void json_setBuff(const char* buffer, size_t length) { json.setBuff(buffer, length); }

bool json_getNext(char* key, size_t keySize, char* value, size_t valueSize) {
    return json.getNext(key, keySize, value, valueSize);
}
