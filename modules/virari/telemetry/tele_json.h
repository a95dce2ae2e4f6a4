// A small reader for the flat JSON objects the radio modem sends: key and
// value pairs of strings or numbers, one object per datagram.
#pragma once

#include <cstddef>

class JsonParse {
public:
    void setBuff(const char* buffer, size_t length);
    // Next character; false at the end of the input.
    bool getNextChar(char* c);
    void putBackChar(char c);
    // A quoted string (no escapes) or a number; at most size - 1 characters
    // are stored, the output always ends with a zero byte. False when the
    // input ends before the string or number is closed.
    bool parseString(char* out, size_t size);
    // Next key and value; false at the end of the object or of the input.
    bool getNext(char* key, size_t keySize, char* value, size_t valueSize);
    static bool numberChar(char c);

private:
    const char* start_ = nullptr;
    const char* pos_ = nullptr;
    size_t length_ = 0;
    size_t taken_ = 0;
    char putBack_ = 0;     // 0 = none
    int state_ = 0;        // 0 before "{", 1 key, 2 ":", 3 value, 4 after a value
};

void json_setBuff(const char* buffer, size_t length);
bool json_getNext(char* key, size_t keySize, char* value, size_t valueSize);
