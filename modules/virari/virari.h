// The device network under the measurement core.
#pragma once

// Installs the serial-network manager as the FIFO layer's hooks, DiraDir2 as
// the command interface's transport, as what the gateway asks before it
// requests a list of another device and as the count of the devices' runs
// that the lists served to them keep. Call after SerNet_man_ini.
void virari_attach_measurement();

// Registers the serial-network senders and flushes on the two Ethernet send
// rasters and the 1-second hook; 1 on success.
int virari_register_rasters();
