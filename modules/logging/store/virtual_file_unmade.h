// Records lost because the file they belong to could not be made: no
// virtual file for it (the registry's slot still held by a file the writers
// have not finished, on slow drives, or its header not built). The file
// store drops such records one by one as they come; each is counted here
// with its stamp, per measurement, and the stretch of them is named once in
// one line (count, first and last stamp, the file), not record by record:
// when another file of the measurement is made or cannot be made either, and
// when the measurement's files close at a stop.
#pragma once

#include <cstdint>
#include <mutex>

namespace measure::store {

class UnmadeFiles {
public:
    static constexpr unsigned kMeas = 3;
    // A record of measurement measIdx stamped ts is lost: its file `name`
    // could not be made. A stretch of another file is named first. True
    // when this record begins the stretch of its file.
    bool refused(unsigned measIdx, const char* name, uint32_t ts);
    // Whether making the file `name` is worth a try: not while its records
    // are being lost for want of a registry slot (every record of its blocks
    // would try again and fail the same way).
    bool worthTrying(unsigned measIdx, const char* name);
    // Names the stretch of the measurement lost so far, if any.
    void name(unsigned measIdx);

private:
    struct Stretch {
        uint32_t count = 0;
        uint32_t low = 0, high = 0;   // the lowest and highest stamp lost
        char file[40] = "";
    };
    static void log(unsigned measIdx, const Stretch& s);

    std::mutex mx_;   // leaf lock: the line is logged after it is let go
    Stretch stretch_[kMeas];
};

extern UnmadeFiles unmadeFiles;

}  // namespace measure::store
