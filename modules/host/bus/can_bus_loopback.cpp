// In-process CAN bus for unit tests.
#include "host/bus/can_internal.h"

namespace host::detail {

bool LoopbackBus::send(const CanFrame& f) {
    std::lock_guard<std::mutex> lk(mx_);
    if (sent_.size() >= kMaxKept) sent_.erase(sent_.begin());
    sent_.push_back(f);
    return true;
}

std::vector<CanFrame> LoopbackBus::take() {
    std::lock_guard<std::mutex> lk(mx_);
    std::vector<CanFrame> out;
    out.swap(sent_);
    return out;
}

}  // namespace host::detail
