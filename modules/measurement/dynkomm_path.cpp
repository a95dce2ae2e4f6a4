// Opening and closing a serial-network path from a source FIFO of this
// device to a sink on another device.
#include <cstdint>

#include "platform/byteorder.h"
#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "platform/syslogx.h"

namespace {
constexpr uint16_t kCmdOpenPath = 0x0300;
constexpr uint16_t kCmdClosePath = 0x0301;

// Reply to the open request (0x0107): the requester's value (payload 0), the
// sink's magic number (4), the sink's handle (8) and the sink's PID (12). The
// source FIFO travels as its magic number, never as a pointer.
void openReply(void* ctx, ci_msg_t* msg) {
    uint32_t sourceMagic = uint32_t(reinterpret_cast<uintptr_t>(ctx));
    dynkomm_fifo_t* f = nullptr;
    if (dynkomm_get_fifo(sourceMagic, &f) != 1 || !f) return;
    uint32_t sinkMagic = ci_get_len(msg) >= 14 ? be_get32(msg->payload + 4) : 0;
    if (sinkMagic == 0) {
        dynkomm_fifo_unlink(f);   // releases the source FIFO
        return;
    }
    f->dest_magic = sinkMagic;
    f->dst_pid = be_get16(msg->payload + 12);
    dynkomm_start_sending(f);
}
}  // namespace

int dynkomm_open_serial_network_path(dynkomm_fifo_t* source, uint32_t value) {
    if (!source || source->valid != DYNKOMM_VALID) return 0;
    uint32_t h = ci_completion_register(openReply, reinterpret_cast<void*>(uintptr_t(source->magic)));
    if (!h) return 0;
    ci_msg_t m;
    ci_init_msg(&m, kCmdOpenPath, source->dst_pid, 20);
    ci_set_magic(&m, source->magic);
    ci_set_listid(&m, h);
    be_put16(m.payload + 0, source->src_pid);
    be_put16(m.payload + 2, source->dst_pid);
    be_put16(m.payload + 4, source->raster);
    be_put16(m.payload + 6, source->slotsize);
    be_put32(m.payload + 8, value);
    be_put16(m.payload + 12, source->slotcount);
    be_put16(m.payload + 14, source->mode);
    be_put32(m.payload + 16, 0);
    if (!comint_put_cmd(&m, 0)) {
        ci_completion_release(h);
        return 0;
    }
    return 1;
}

int dynkomm_close_SerNet_path(dynkomm_fifo_t* source) {
    if (!source || source->valid != DYNKOMM_VALID) return 0;
    // The release may free the FIFO: take what the close request needs first.
    const uint32_t sinkMagic = source->dest_magic;
    const uint16_t srcPid = source->src_pid, dstPid = source->dst_pid;
    dynkomm_stop_sending(source);
    dynkomm_fifo_unlink(source);
    ci_msg_t m;
    ci_init_msg(&m, kCmdClosePath, dstPid, 8);
    be_put32(m.payload + 0, sinkMagic);
    be_put16(m.payload + 4, srcPid);
    be_put16(m.payload + 6, dstPid);
    return comint_put_cmd(&m, 0);
}
