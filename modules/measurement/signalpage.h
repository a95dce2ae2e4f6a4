// The signal page of the calibration memory: published measured values and
// the status and request flags that calibration tools watch and set. Every
// member is measurable by name through the variable catalogue.
//
// Modules that publish values of their own beyond this layout take room from
// the page's free area with seramSignalAlloc and name it with catalogue_add.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned CANIN_MAX_VALUES = 1000;

struct SignalPage {
    // --- host inputs (written by the stimulus every 1 ms) ---------------------
    float n_engine;            // engine speed, 1/min
    float v_vehicle;           // vehicle speed, km/h
    float throttle;            // throttle position, %
    float t_water;             // water temperature, degC
    float t_oil;               // oil temperature, degC
    float t_air;               // intake air temperature, degC
    float p_oil;               // oil pressure, bar
    float p_fuel;              // fuel pressure, bar
    float p_brake_front;       // brake pressure front, bar
    float lap_distance;        // distance since the lap start, m
    int8_t gear;               // 0 = neutral, -1 = reverse
    uint8_t stim_active;       // 1 while the stimulus runs
    uint16_t stim_reserved;
    uint32_t stim_tick;        // stimulus steps since start

    // --- logging application -------------------------------------------------------
    uint8_t meas_app_startreq;
    uint8_t meas_app_stopreq;
    uint8_t meas_app_faststopreq;
    uint8_t meas_app_blkstopreq;
    uint8_t meas_app_reinitreq;
    uint8_t meas_app_destroyreq;
    uint8_t meas_app_hstinitreq;
    uint8_t meas_app_running;
    uint8_t meas_app_remoteread;
    uint8_t meas_globcond_m01;
    uint8_t meas_globcond_m03;
    uint8_t meas_cnt_m01request;
    uint8_t meas_cnt_m01reply;
    uint8_t meas_cnt_m02request;
    uint8_t meas_cnt_m02reply;
    uint8_t meas_cnt_m03request;
    uint8_t meas_cnt_m03reply;
    uint8_t meas_cnt_update;
    uint8_t meas_compression_m01;
    uint8_t meas_compression_m03;
    uint32_t meas_cnt_ecu;
    uint32_t meas_cnt_fde;
    uint32_t meas_rate_m01;
    uint32_t meas_rate_m03;
    uint32_t meas_fileCnt_part1;
    uint32_t meas_fileCnt_part2;
    uint32_t meas_fileCnt_usb;
    uint32_t meas_maxFileCnt_part1;
    uint32_t meas_maxFileCnt_part2;
    uint32_t meas_maxFileCnt_usb;

    // --- display -----------------------------------------------------------------
    uint8_t display_page;
    uint8_t display_page_mx;
    uint8_t display_brightness;
    uint8_t sw_brightness;     // the driver's brightness switch, positions 1..6 (a host input)

    // --- measurement core ------------------------------------------------------------
    uint32_t meas_man_data_loss;   // slots lost because a consumer FIFO was full
    uint8_t ccpmr_status[2];       // CCP master status per instance
    uint8_t ccpmr_reserved[2];

    // --- CAN input: value slot i for channel index i ------------------------------------
    uint32_t memory_canin[CANIN_MAX_VALUES];
};

// The signal page in the calibration memory.
SignalPage* signalPage();
