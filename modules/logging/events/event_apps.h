// Application names of the devices of the vehicle network by PID, appended to
// every event written into a measurement file. Built-in names stand until
// "cfg:/apps.xml" overrides them:
//   <Applicationlist>
//     <Application pid="5" name="ECU_MAIN"/>
//   </Applicationlist>
// The file is read once per process, by the first logger that succeeds.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned EVENT_APPS = 64;
constexpr size_t EVENT_APP_NAME_MAX = 16;
constexpr const char* EVENT_APPS_FILE = "cfg:/apps.xml";

// Reads the file unless it was read before. Throws the XML classes' error
// text (const char*): a missing file, broken XML, "pid too high".
void eventApps_readOnce();
// True once the file has been read.
bool eventApps_read();
// Copies the name of a PID (empty above 63; at most 16 characters) with its
// terminating zero into out (EVENT_APP_NAME_MAX + 1 bytes); its length.
size_t eventApps_name(unsigned pid, char* out);

// Tests: built-in names again, file not read.
void eventApps_resetForTest();
