#include "logging/events/event_signals.h"

#include <cstddef>

#include "measurement/catalogue.h"
#include "measurement/signal_block.h"

namespace {
SignalBlock<EventSignals> gSignals;

const SignalVar kVars[] = {
    {"event_send_cnt", offsetof(EventSignals, event_send_cnt), TE_UINT32},
    {"event_send_discarded_cnt", offsetof(EventSignals, event_send_discarded_cnt), TE_UINT32},
    {"event_write_cnt", offsetof(EventSignals, event_write_cnt), TE_UINT32},
};
}  // namespace

EventSignals& eventSignals() { return gSignals.get(); }

// The counters by name, and the flags as one array ("Cfg_events_arr[i]").
int event_publishSignals() {
    return gSignals.publishNamed([](uint32_t vaddr) {
        const bool counters = signalVars_name(vaddr, kVars);
        return catalogue_add("Cfg_events_arr", vaddr + uint32_t(offsetof(EventSignals, Cfg_events_arr)), TE_UINT8,
                             EVENT_CHANNELS_MAX) == 1 &&
               counters;
    });
}

void event_unpublishSignals() { gSignals.unpublish(); }
