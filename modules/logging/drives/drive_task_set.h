// Tasks started for work that may wait for a drive, so that the raster that
// asks for it never does. The set is closed at the logging's end: nothing
// starts after that, and the owner ends those still running its own way;
// it is opened again when the logging starts anew.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "host/os/os.h"

class DriveTaskSet {
public:
    enum class Start { Started, Closed, Failed };
    struct Running {
        TASK_ID id;
        const char* name;
    };

    // The lock is held for the look at the list only, never across a wait:
    // a raster calls this. Those that ended by themselves leave the list.
    Start start(const char* name, std::function<void()> body);
    // Closes the set and hands over the tasks it still lists.
    std::vector<Running> close();
    void open();

private:
    std::mutex mx_;
    std::vector<Running> tasks_;
    bool closed_ = false;
};
