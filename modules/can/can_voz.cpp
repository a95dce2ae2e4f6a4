// Start-up of CAN input and output from calibration parameters or from
// "cfg:/CAN.xml". Whatever the outcome, the measurement manager is told at
// the end that CAN input and output are set up.
#include "can/can_voz.h"

#include <cstdlib>

#include "can/can_in.h"
#include "can/can_out.h"
#include "can/can_xml.h"
#include "host/os/os.h"
#include "measurement/calparams.h"
#include "measurement/gateway.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "xml/xml_file.h"

namespace {

constexpr int kDriveChecks = 20;
constexpr const char* kCanXml = "cfg:/CAN.xml";
TASK_ID gTask = nullptr;

void compile() {
    if (CanIn_init() == 1) syslogx(147, "CanIn_man_ini() error");
    if (CanOut_init() == 1) syslogx(147, "CanOut_init() error");
}

}  // namespace

void can_voz_init_task() {
    int checks = 0;
    while (driveAvailable("cfg:") != 0) {
        taskDelay(sysClkRateGet() / 2);
        if (++checks >= kDriveChecks) {
            syslogx(147, "CanVoz_init(): no drive found, no CAN In/Out");
            meas_man_CanIO_initialized();
            return;
        }
    }
    char* text = Can_Xml_Load(kCanXml);
    if (!text) {
        // a file that is there but cannot be taken was named with its fault
        if (xmlFileProblem(kCanXml) != "not found")
            syslogx(147, "CanVoz_init(): cfg:/CAN.xml not read, no CAN In/Out");
        else
            syslogx(147, "CanVoz_init(): cfg:/CAN.xml not found, no CAN In/Out");
        meas_man_CanIO_initialized();
        return;
    }
    XmlCanIOParse(text, kCanXml);   // a parse error keeps what was read before it
    compile();
    std::free(text);
    meas_man_CanIO_initialized();
}

void can_voz_ini() {
    CanIn_initConfig();
    CanOut_initConfig();
    if (calLoad(calActive().CfgMat_CanVersion) < 5) {
        CanIn_CfgMat_configure();
        CanOut_CfgMat_configure();
        compile();
        meas_man_CanIO_initialized();
        return;
    }
    syslogx(150, "can_voz_ini(): starting task for XML");
    gTask = taskSpawn("canIOini", 105, VX_FP_TASK, 65536, [] { can_voz_init_task(); });
    if (!gTask) {
        syslogx(147, "can_voz_ini(): could not create task for XML");
        meas_man_CanIO_initialized();
    }
}

void can_voz_wait() {
    if (gTask) taskWait(gTask, WAIT_FOREVER);
    gTask = nullptr;
}
