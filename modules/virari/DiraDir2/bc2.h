// DiraDir2: the Ethernet transport between the devices of the vehicle network.
//
// Every device announces itself every 200 ms on a multicast group; two
// devices that hear each other keep a TCP command channel (CI) and a TCP data
// channel (DK), opened by the side with the greater address. Commands for all
// devices go by multicast, data of online FIFOs by UDP.
#pragma once

#include <cstdint>

#include "measurement/comint.h"

constexpr uint16_t BC2_VERSION = 0x0204;
constexpr unsigned BC2_PIDS = 64;

// Starts DiraDir2 with the device address and port offset of the start
// parameters; 1 when its tasks run.
int BC2_init();
// Sets the stop flag: the tasks end at their next cycle or received unit,
// the command send task at once.
void BC2_stop();
// Received commands are dropped from now on while every channel stays up:
// the shutdown calls it before the command interface goes, and the stop
// requests of the measurement lists still go out until BC2_shutdown.
void BC2_quiet();
// Stops and waits for every task, closes every socket of the registry (the
// telemetry's too) and forgets all hosts and channels, so that BC2_init may
// run again; the process shutdown ends the network this way, so that no
// task is left running when the process exits.
void BC2_shutdown();

uint64_t comint_get_connect_mask();
uint64_t udp_get_detect_mask();
uint64_t dk_get_connect_mask();
// Both the command and the data channel to the PID are up.
bool BC2_connected(unsigned pid);
// 2 when not connected; 0 when the peer's protocol supports the capability
// (0 from 0x0202, 1 from 0x0203, 2 from 0x0204), 1 when not or unknown.
int BC2_getRemoteCapabilty(unsigned pid, unsigned capability);
// How many restarts of the PID's device were seen (its presence sequence
// counter going back, or a later boot of its unit).
uint32_t BC2_peer_run(unsigned pid);
// The PID's device was heard and has fallen silent since.
bool BC2_peer_gone(unsigned pid);
// The run counted for the PID's device (as BC2_peer_run) into run, read
// with its state: false when the device was heard and has fallen silent
// since or missed its presence a few times in a row (killed, it is not gone
// yet), true otherwise.
bool BC2_peer_heard(unsigned pid, uint32_t* run);
// When a message of any kind of the PID's device came last, in this
// device's time, into stamp; false when none came.
bool BC2_peer_last_sign(unsigned pid, uint32_t* stamp);
// The command multicast channel exists.
bool comint_status();

// Transports of the command interface (installed by the wiring).
int BC2_comint_put_eth(const ci_msg_t* msg);
int BC2_comint_put_locSock(const ci_msg_t* msg);

// DK record header: destination PID, data length, destination magic number.
constexpr unsigned DK_RECORD_HEADER = 8;
constexpr unsigned DK_BLOCK_SIZE = 1472;
// Appends a record to the offline (TCP) or online framer of the destination;
// 1 when this call sent a full half.
int dyncom_send_eth(const uint8_t* header, const uint8_t* data);
int dyncom_send_eth_online(const uint8_t* header, const uint8_t* data);
// Sends what the framers hold: mode 1 offline, else online.
void Dynkom_flush_eth(int mode);

// Counters and states of a PID, as the debug outputs read them.
struct BC2_PidDebug {
    uint32_t seq;
    uint8_t ciState, dkState;
    uint16_t ciTx, ciTxErr, ciRx, ciRxErr;
    uint16_t dkTxOnline, dkTxOffline, dkTxErr, dkRxUdp, dkRx, dkRxErr;
    uint16_t version;
};
int BC2_debugoutPID(unsigned pid, BC2_PidDebug* out);
// This device's presence sequence counter and the receive counters of the
// presence and command multicast groups.
struct BC2_GlobDebug {
    uint32_t seq;
    uint16_t bcRx, mcRx, mcRxErr;
};
int BC2_debugoutGlob(BC2_GlobDebug* out);
