#include "xcp/xcp_errno.h"

#include <cstdio>
#include <cstring>

XcpErrnoText::XcpErrnoText(int err) {
    if (err >= 0 && err < 0x10000) {
        text_ = std::strerror(err);
        return;
    }
    std::snprintf(buf_, sizeof buf_, "0x%x", unsigned(err));
    text_ = buf_;
}
