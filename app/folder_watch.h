// Says once when the device folder is removed while the device runs.
#pragma once

void folderWatch_start();
