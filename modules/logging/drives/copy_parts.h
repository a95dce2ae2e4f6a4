// Part files of the copies to another drive: a copy streams into
// "<file name>.part" beside the name it is for and moves it into place once
// whole. A part that no copy of this process writes was left by a cut.
#pragma once

#include <string>

// The part file of a copy: its name for the name the copy is for.
std::string meas_copyPartName(const std::string& to);

// A copy writes the part at hostPath from begin to end; the leftovers'
// removal leaves it alone meanwhile.
void meas_copyPartBegin(const std::string& hostPath);
void meas_copyPartEnd(const std::string& hostPath);
