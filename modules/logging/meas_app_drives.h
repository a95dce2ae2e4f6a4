// Availability of the logging drives as the logging code sees it.
#pragma once

// 0 when the drive is available, else -1. (The debounced drive watch of the
// drive module replaces the direct query once it exists.)
int meas_app_driveAvDebounce(const char* drive);
