// A scripted CCP slave on the host CAN bus (loopback kind): it answers the
// master's commands, keeps the DAQ lists the master writes into it and sends
// their DAQ messages from a small memory of values.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "host/kernel/kernel.h"

class CcpSlave {
public:
    struct Element {
        uint8_t size = 0, ext = 0;
        uint32_t addr = 0;
    };
    struct DaqInfo {
        uint8_t odts = 0;       // GET_DAQ_SIZE answer
        uint8_t firstPid = 0;
        uint32_t canId = 0;     // bit 31: extended
    };
    struct Started {
        uint8_t lastOdt, evt;
        uint16_t prescaler;
    };

    CcpSlave(unsigned intf, uint32_t cmdId, uint32_t retId, bool bigEndian)
        : intf_(intf), cmdId_(cmdId), retId_(retId), big_(bigEndian) {}

    std::set<uint8_t> silent;              // commands left unanswered
    std::set<uint8_t> refused;             // commands answered with an error code
    std::map<uint8_t, DaqInfo> daqs;       // by the slave's DAQ list number
    std::map<uint32_t, uint32_t> memory;   // values by address
    std::vector<std::array<uint8_t, 8>> commands;   // every command received
    std::map<std::tuple<uint8_t, uint8_t, uint8_t>, Element> elements;   // (daq, odt, element)
    std::map<uint8_t, Started> started;

    // Answers every command the master sent since the last call.
    void serve() {
        for (const host::CanFrame& f : host::canLoopbackTake(intf_)) {
            if (f.id != wire(cmdId_) || f.len != 8) continue;
            std::array<uint8_t, 8> c;
            for (int i = 0; i < 8; ++i) c[i] = f.data[i];
            commands.push_back(c);
            handle(c);
        }
    }

    // The DAQ messages of one cycle of a started DAQ list.
    void sendCycle(uint8_t daqNo) {
        auto st = started.find(daqNo);
        if (st == started.end()) return;
        const DaqInfo& d = daqs[daqNo];
        for (unsigned odt = 0; odt <= st->second.lastOdt; ++odt) {
            host::CanFrame f;
            f.id = wire(d.canId);
            f.len = 8;
            f.data[0] = uint8_t(d.firstPid + odt);
            unsigned pos = 1;
            for (uint8_t e = 0;; ++e) {
                auto it = elements.find({daqNo, uint8_t(odt), e});
                if (it == elements.end()) break;
                putValue(f.data + pos, memory[it->second.addr], it->second.size);
                pos += it->second.size;
            }
            host::canLoopbackInject(intf_, f);
        }
    }

    Element element(uint8_t daq, uint8_t odt, uint8_t elem) const {
        auto it = elements.find({daq, odt, elem});
        return it == elements.end() ? Element{} : it->second;
    }

    // Commands received with that code.
    std::vector<std::array<uint8_t, 8>> withCode(uint8_t code) const {
        std::vector<std::array<uint8_t, 8>> out;
        for (const auto& c : commands)
            if (c[0] == code) out.push_back(c);
        return out;
    }

    uint32_t get32(const uint8_t* p) const {
        return big_ ? uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                    : uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
    }
    uint16_t get16(const uint8_t* p) const { return big_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]); }

    static uint32_t wire(uint32_t cfg) {
        return cfg & 0x80000000u ? (cfg & 0x1FFFFFFFu) | host::CAN_EFF_FLAG : cfg & 0x7FFu;
    }

private:
    void putValue(uint8_t* p, uint32_t v, unsigned size) const {
        for (unsigned b = 0; b < size; ++b) p[big_ ? size - 1 - b : b] = uint8_t(v >> (8 * b));
    }

    void answer(const std::array<uint8_t, 8>& c, uint8_t code, uint8_t b3 = 0, uint8_t b4 = 0) {
        host::CanFrame f;
        f.id = wire(retId_);
        f.len = 8;
        f.data[0] = 0xFF;
        f.data[1] = code;
        f.data[2] = c[1];
        f.data[3] = b3;
        f.data[4] = b4;
        host::canLoopbackInject(intf_, f);
    }

    void handle(const std::array<uint8_t, 8>& c) {
        if (silent.count(c[0])) return;
        if (refused.count(c[0])) {
            answer(c, 0x30);
            return;
        }
        switch (c[0]) {
        case 0x14: {   // GET_DAQ_SIZE
            const DaqInfo& d = daqs[c[2]];
            answer(c, 0, d.odts, d.firstPid);
            return;
        }
        case 0x15: ptr_ = {c[2], c[3], c[4]}; break;
        case 0x16: elements[ptr_] = Element{c[2], c[3], get32(&c[4])}; break;
        case 0x06:
            if (c[2] == 1) started[c[3]] = Started{c[4], c[5], get16(&c[6])};
            else started.erase(c[3]);
            break;
        case 0x07: started.clear(); break;
        default: break;
        }
        answer(c, 0);
    }

    unsigned intf_;
    uint32_t cmdId_, retId_;
    bool big_;
    std::tuple<uint8_t, uint8_t, uint8_t> ptr_{};
};
