// The platform's ping: ICMP echo requests to an IPv4 address, as the device's
// network stack offers them to programs.
#pragma once

#include "host/os/os.h"

// options
constexpr unsigned long PING_OPT_SILENT = 0x1;   // print nothing (the host never prints)

// Sends numPackets echo requests to host (dotted IPv4 text) one after the
// other and waits for each reply up to the reply time-out. OK when every
// request was answered; ERROR with errno set otherwise (ETIMEDOUT: no reply,
// EINVAL: not an address, else the socket's error, e.g. ENETUNREACH). A
// delete of the calling task unwinds it within a few milliseconds.
STATUS ping(const char* host, int numPackets, unsigned long options);
// The reply time-out of every following ping, in seconds (at least 1).
void pingSetReplyTimeout(int seconds);
