// Error numbers in the XCP log texts. The platform's own status codes (its
// module number in the upper half, such as a full message queue's 0x3D0002)
// mean nothing to strerror; they are printed as their number.
#pragma once

// The text of one error number, alive until the end of the full expression
// that made it: xcpErrnoText(errno).c_str() as an argument of a log call.
class XcpErrnoText {
public:
    explicit XcpErrnoText(int err);
    const char* c_str() const { return text_; }

private:
    char buf_[16];
    const char* text_;
};

inline XcpErrnoText xcpErrnoText(int err) { return XcpErrnoText(err); }
