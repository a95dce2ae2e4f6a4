// Start-up of CAN input and output.
#pragma once

// The start-up step: with CfgMat_CanVersion below 5 CAN input and output are
// configured from calibration parameters at once; otherwise the task
// "canIOini" reads "cfg:/CAN.xml" as soon as the drive "cfg:" is there.
void can_voz_ini();
// Body of the task "canIOini".
void can_voz_init_task();
// Waits until the task "canIOini" has ended (tests, shutdown).
void can_voz_wait();
