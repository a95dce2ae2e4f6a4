// A measured channel described by an XML element and read through the gateway.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "measurement/types.h"
#include "xml/xml.h"

class ChanData {
public:
    // Reads one channel element at the scanner's current start tag (tok):
    // attributes name, addr (hex), type (TypeEnum_t), mask (hex), further
    // numeric attributes kept as floats, and <vtab value= text=> children.
    // Throws the XML classes' error text (const char*) for broken input.
    ChanData(XmlScan& scan, const XmlTok_t& tok);
    ChanData(const char* name, measaddr_t addr, TypeEnum_t type, uint32_t mask = 0xFFFFFFFF);
    ~ChanData();
    ChanData(const ChanData&) = delete;
    ChanData& operator=(const ChanData&) = delete;

    static uint8_t convDataType(TypeEnum_t t);

    std::string name;
    measaddr_t addr = 0;
    uint32_t mask = 0xFFFFFFFF;
    TypeEnum_t type = TE_NONE;
    std::vector<std::pair<std::string, float>> attributes;   // further numeric attributes
    std::vector<std::pair<int32_t, std::string>> vtab;       // verbal table

    // Gateway state (chan_meas_setup / chan_meas_getValue); the raster task
    // writes the value, any task reads it.
    uint32_t list = 0;
    std::atomic<bool> valid{false};
    std::atomic<uint32_t> raw{0};

    // Attribute by name, default when missing.
    float attr(const char* key, float dflt) const;
};

// Sets a channel up for reading through the gateway on raster index a with a
// no-data time-out of b periods (the value is then not available until it
// returns); nothing for a null channel. 1 on success.
int chan_meas_setup(ChanData* ch, unsigned a, unsigned b);
// Current value (mask applied for integer types); nonzero when available.
int chan_meas_getValue(ChanData* ch, double* out, unsigned flags);
// Ends the channel's gateway list.
void chan_meas_release(ChanData* ch);
