// Drive work of the logging beyond availability: preparing the drives at
// boot (waiting for them, asking the kernel side to reformat a drive whose
// directory size differs from the configured one), the drive part of a path,
// and copying a finished measurement file to another drive.
#pragma once

#include <cstdint>
#include <string>

// Waits until the drives of all three measurements are ready (polling every
// poll ticks, at most timeout ticks), then checks the directory size of each
// and has it reformatted where it differs. 0 done, -1 time-out (nothing is
// reformatted). Status bit 0x8000 is set once the drives are ready. The
// empty measurement files on the measurement drives that are there by then
// are removed first (meas_app_removeEmptyMeasFiles), and the parts of cut
// copies on the copy drives (meas_app_removeCopyLeftovers).
int meas_app_BootPrepareDisks(int pollTicks, int timeoutTicks);
// 0 when the directory size of drive devIdx matches the configuration (or
// cannot be compared), -1 when it should be reformatted.
int meas_app_BootPrepareDisks_checkDir(int devIdx);
// Sends the 17-byte format request for drive devIdx to "/MeasAppFormat" and
// waits up to 2 s for the answer on "/MeasAppFormatAck"; 0 answered, else -1.
int meas_app_BootPrepareDisks_format(int devIdx);
// Byte 0 of a format request: the directory size in units of 340 entries.
uint8_t meas_app_formatSizeCode(uint32_t maxFileCount);
// Removes the empty measurement files of a drive (left by a power cut just
// after they were made) that no writer of this run made, whatever their
// time stamps, each named in the log; the number removed.
int meas_app_removeEmptyMeasFiles(const char* drive);
// Notes a measurement file (its host path) as made by this run, before it
// is made: the removal of empty files leaves it alone. False when it was
// noted already. A note is forgotten once the file holds its header, or
// when it could not be made (what stands at its name is not this run's).
bool meas_app_noteFileMade(const std::string& hostPath);
void meas_app_forgetFileMade(const std::string& hostPath);
// Notes the file a writer made (device path, "meas:/A0101000.002") for the
// name its counters gave it ("meas:/A0101000.001"): the same when that name
// was free on the drive. meas_app_fileMadeAs gives the newest file made for
// a name in this run, or the name itself when no writer made one.
void meas_app_noteFileMadeAs(const std::string& named, const std::string& made);
std::string meas_app_fileMadeAs(const std::string& named);
// A writer closed the file it made (device path): it writes no more to it.
// The copies that wait for that close go on.
void meas_app_noteFileLetGo(const std::string& made);
// Whether a writer of this run made the file at `path` (device path) and
// still writes to it: a copy of it now would be cut. False for a file no
// writer of this run made.
bool meas_app_writerHolds(const std::string& path);
// Whether a writer of this run made the file at `path` under that very name
// and has closed it.
bool meas_app_writerLetGo(const std::string& path);
// Name of the small file a writer of measurement N (1-3) makes to ask its
// drive whether it takes a new file.
inline constexpr char kMeasRoomProbeName[] = ".roomcheck-m%02u";
// Removes the files a writer made to ask the drive for room that a cut left
// on it (".roomcheck-m01" and so on; only plain files), each named in the
// log; the number removed.
int meas_app_removeRoomProbes(const char* drive);

// Removes the part files that copies cut off (by a power cut or a pulled
// drive) left on drive, each named in the log; the number removed. The
// copies are not made again: their files stay whole on their own drives.
// Called at the start for the copy drives.
int meas_app_removeCopyLeftovers(const char* drive);
// What cuts left on a drive that arrives (the USB stick plugged in while the
// device runs): its empty measurement files and the parts of copies, each
// named in the log, removed in the task "r_CopyLeftover", off the raster
// that sees the drive arrive. None starts between the end below and the
// next allow (an arrival then leaves its leftovers to the next start).
void meas_app_removeArrivalLeftoversTask(const char* drive);
// The logging's shutdown: every removal task still running is asked to end
// and is joined (one stuck in a call to the drive is given up, logged), so
// that none outlives the logging or works on a drive the device left.
void meas_app_endArrivalLeftoversTasks();
// Arrivals start their removal tasks again (the logging's raster entries
// are added).
void meas_app_allowArrivalLeftoversTasks();

// Copies the drive of path ("meas:" of "meas:/dir/a.dat", the ':' included)
// into drive (at least 42 bytes) and returns the position of the ':'; -1
// (logged) when no ':' lies within the first 41 characters.
int meas_app_filenameGetDrive(const char* path, char* drive, unsigned* pos);

// Body of the copy tasks: after 5 s (at once when the orderly stop lets the
// pending copies go, copy_pending.h), and once the writer has closed the
// file (waited for up to MEAS_COPY_CLOSE_WAIT_S; a file still written after
// that is named as not copied, never copied cut), copies the file of measIdx
// named by the counters from its target drive to destDrive ("usb_meas:"),
// read-only, with the source's time stamps; the file is the one the writer
// made for those counters (meas_app_fileMadeAs), under its own name on both
// drives. destDrive is freed when owned. The copy never replaces what stands
// on destDrive: a file there under its name that is the start of this very
// recording (the USB writer's, cut off by a pull) is completed; anything
// else there keeps its name, and the copy takes the next free name as a
// split would (LapOutFra_findFreeName) and logs both names.
void meas_app_copyFileTask(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment, unsigned measIdx,
                           char* destDrive, uint8_t destOwned);
// Copies the file before the current one of m01 to "usb_meas:" in the task
// "r_FileCpy_4tst".
void meas_app_copyLastFileTask();
// Seconds the copy waits before it starts (the writer closes the file first);
// tests shorten it.
void meas_app_setCopyStartDelay(int seconds);
// The longest a copy waits for the writer to close its file after that: a
// split's file closes once its status block is collected, a few seconds on.
constexpr int MEAS_COPY_CLOSE_WAIT_S = 60;

// The telemetry configuration is never kept in flash: 0.
int load_telecfg_from_flash();
