// The device network's services installed into the measurement core.
#include "virari/virari.h"

#include "measurement/comint.h"
#include "measurement/dynkomm.h"
#include "measurement/gateway.h"
#include "measurement/measman.h"
#include "platform/raster.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/sernet_man.h"

namespace {
// Without the command multicast channel no other device can be reached: a
// command to all devices then reaches all there are, this one.
int putEth(const ci_msg_t* msg) {
    if (ci_get_dst(msg) == CI_PID_ALL && !comint_status()) return 1;
    return BC2_comint_put_eth(msg);
}
const comint_transport kTransport = {putEth, BC2_comint_put_locSock};

bool connected(unsigned pid) { return BC2_connected(pid); }
const gw_network kNetwork = {connected, BC2_getRemoteCapabilty};

void senderOnline(intptr_t raster) { SerNet_man_sender_online(unsigned(raster)); }
void senderOffline(intptr_t raster) { SerNet_man_sender_offline(unsigned(raster)); }
void flushOnline(intptr_t) { SerNet_man_flush_online(); }
void flushOffline(intptr_t) { SerNet_man_flush_offline(); }
void oneSecond(intptr_t) { SerNet_man_1s(); }
}  // namespace

int virari_register_rasters() {
    return raster_addEntry(RB_ETHSEND_ONLINE, "SerNet_man_sender_online", senderOnline, 0) &
           raster_addEntry(RB_ETHSEND_ONLINE, "SerNet_man_flush_online", flushOnline, 0) &
           raster_addEntry(RB_ETHSEND_OFFLINE, "SerNet_man_sender_offline", senderOffline, 0) &
           raster_addEntry(RB_ETHSEND_OFFLINE, "SerNet_man_flush_offline", flushOffline, 0) &
           raster_addEntry(RB_1000MS, "SerNet_man_1s", oneSecond, 0);
}

void virari_attach_measurement() {
    dynkomm_set_sernet_hooks(sernet_man_hooks());
    comint_set_transport(&kTransport);
    gw_set_network(&kNetwork);
    meas_man_set_peer_runs(BC2_peer_run);
    meas_man_set_peer_heard(BC2_peer_heard);
    meas_man_set_peer_sign(BC2_peer_last_sign);
}
