// The device's kernel-side services, stood in for on the host.
//
// On the car these are numbered system calls into the kernel and its
// application manager. Here every service keeps its state in this process and
// in files of the device folder (the process's working directory unless a
// test sets another). The front ends in modules/platform call the services
// through rtpSyscall() with the numbers below, exactly as they would call the
// kernel; tests may also call the typed functions directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host {

// ---- device folder ---------------------------------------------------------------
// Folder that holds the device's files: start.cfg, nvram.bin, the drive
// folders (cfg/, meas/, meas2/, usb_meas/, c/), the log file and screen.png.
// Until set, the working directory of the process at the first call.
// deviceFolder() is the folder's name, for messages; every file in it is
// reached through inDeviceFolder(name): the bare name while the folder is
// the working directory (so that the files follow the folder if it is
// renamed while the device runs), else the set folder's path and the name.
void setDeviceFolder(const std::string& folder);
const std::string& deviceFolder();
std::string inDeviceFolder(const std::string& name);

// Locks the device folder itself and its "device.lock" (which then holds
// the PID) for the rest of the process's life, so that a second device
// process cannot start on the same folder, device.lock removed or not;
// false when the lock is taken or cannot be had, with words that follow the
// folder's name in *why: "is in use by process <pid>" (or "by another
// process"), or "cannot be locked: device.lock is a folder" (likewise "is a
// link that leads nowhere", "is a FIFO", ... as fileProblem names them, or
// the system's reason).
bool lockDeviceFolder(std::string* why);

// Once, when the folder locked by lockDeviceFolder has been removed while
// the device runs (also moved to another file system: copied, then
// removed): the line that says so and what the device does; "" while it is
// there (renamed or not), and after the first time.
std::string deviceFolderGone();

// Whether a device runs in the folder at path (holds its lock, on any file
// system), found without taking the lock: 0 when none does, else its
// process number, -1 when that cannot be named.
long deviceRunningIn(const std::string& path);

// Makes the file at path anew for writing and returns its descriptor: what
// stands at the name (a file, a FIFO, a link) is removed first and the file
// is created exclusively, never through a link. -1 with errno on failure
// (a folder at the name is left as it is: EISDIR).
int createFileAnew(const std::string& path, unsigned mode = 0644);

// ---- files read whole -------------------------------------------------------------
// The one size limit of every file the device reads whole (start
// parameters, NVRAM, configuration files): anything above is not one of
// ours, and reading it would only take memory.
constexpr uint64_t kFileMaxBytes = 16u * 1024u * 1024u;

// What tells a file's content apart to the file system: a file replaced or
// written since has another stamp (modified: the time of the last write in
// nanoseconds).
struct FileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// Why the host file at path cannot be read as a file, as words that follow
// its name: "not found", "is a link loop", "is a link that leads nowhere",
// "is a folder", "is a FIFO", "is a device", "is a socket", "is empty", "is
// too large (N bytes)" (above maxBytes); "" for a file with content, whose
// size goes to *size (when given). Nothing is opened, so a FIFO or a device
// costs nothing.
std::string fileProblem(const std::string& path, uint64_t* size = nullptr, uint64_t maxBytes = kFileMaxBytes);

// What stands at path where the device is to write a file, as words that
// follow its name: "not found", "is a link" (never followed: "is a link that
// leads nowhere", "is a link loop" when it ends so), "is a folder", "is a
// FIFO", "is a device", "is a socket"; "" for a plain file, empty or not.
std::string fileProblemToWrite(const std::string& path);

// Opens the plain file at path for reading, without ever waiting on it: it
// is opened non-blocking and the opened descriptor is looked at, so that a
// FIFO put in its place after a check is refused too. Returns the
// descriptor (blocking again, close-on-exec), or -1 with the words of
// fileProblem in *problem ("cannot be opened (reason)" when the open
// fails otherwise); an empty file is opened. *size and *stamp (when given)
// describe the file opened.
int openFileToRead(const std::string& path, std::string* problem, uint64_t* size = nullptr,
                   uint64_t maxBytes = kFileMaxBytes, FileStamp* stamp = nullptr);

// Reads a whole plain file of at most kFileMaxBytes; never throws, never
// waits on a FIFO or a device. Missing when nothing is there, Unreadable
// when it is there but no file to read or cannot be read, with words that
// follow its name in *why ("is a FIFO", "is too large (N bytes)", "cannot be
// read (reason)"; see fileProblem). An empty file is Ok with no bytes.
// *stamp (when given) describes the file read.
enum class FileRead { Ok, Missing, Unreadable };
FileRead readWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* why = nullptr,
                       FileStamp* stamp = nullptr);

// The lines of a text file (start.cfg, stimulus.cfg) read alike whatever
// system wrote it: CR, LF and CR LF each end a line, and a UTF-8 byte-order
// mark at its start (what many editors write first) is no part of the first
// line. NUL bytes stay in their lines.
std::vector<std::string> textLines(const std::string& text);

// ---- start parameters (application manager) ----------------------------------------
// Read from "start.cfg" in the device folder: lines "key = value" (see
// textLines), '#' starts a comment, a key given again takes the later
// value; numbers are decimal unless they start with "0x". Keys: pid, ip, xcp_port, port_offset, can0_port, can1_port,
// can_bus (udp|loopback), can0_socketcand_port, can1_socketcand_port (TCP
// port of the socketcand raw-mode server of the interface; 0 = none),
// serial<n> (host path for "/tyCo/<n>"), modem_ip (the radio modem that
// takes the telemetry's JSON status line).
struct StartParams {
    int appNumber = 1;
    uint8_t pid = 1;
    std::string ip = "127.0.0.1";
    uint16_t xcpPort = 5555;
    uint16_t portOffset = 0;
    uint16_t canPort[2] = {29536, 29537};   // UDP ports of the two CAN interfaces
    std::string canBus = "udp";
    uint16_t socketcandPort[2] = {0, 0};    // TCP ports of the socketcand servers, 0 = none
    std::vector<std::string> serialPath;    // index n: host path of "/tyCo/<n>"
    std::string modemIp = "127.0.0.1";
    // What the sibling application publishes in "/shm/ApplComm": the
    // lap-trigger and fuel-consumption master PIDs (0 = none); -1 = not
    // given, the page keeps what it holds.
    int siblingLaptrigPid = -1;
    int siblingFuelconsPid = -1;
    std::vector<std::string> problems;      // lines that could not be used, as log texts
};
// Loads start.cfg (defaults for a missing file or key); returns the result.
const StartParams& loadStartParams(int appNumber);
const StartParams& startParams();

// ---- drives -------------------------------------------------------------------------
// "cfg:", "meas:", "meas2:", "usb_meas:", "c:" map to sub-folders cfg, meas,
// meas2, usb_meas, c of the device folder. A drive is available when its
// folder exists.
bool driveAvailable(const std::string& drive);
// Maps a device path ("meas:/a/b.dat", "cfg:m01.xml", "/tyCo/0", plain
// relative or absolute host paths) to a host path. Device paths on unknown
// drives map to "" (and so fail to open).
std::string hostPath(const std::string& devicePath);

// File attributes of the device's file system, which Linux has not: kept in
// extended attributes where the file system allows, else in a side file
// ".attrib" of the folder. Bits as the device uses them.
constexpr uint32_t ATTR_READ_ONLY = 0x01;
constexpr uint32_t ATTR_HIDDEN = 0x02;
constexpr uint32_t ATTR_SYSTEM = 0x04;
constexpr uint32_t ATTR_DIRECTORY = 0x10;
constexpr uint32_t ATTR_ARCHIVE = 0x20;
bool getFileAttributes(const std::string& devicePath, uint32_t* attrs);
bool setFileAttributes(const std::string& devicePath, uint32_t attrs);

// ---- NVRAM database -------------------------------------------------------------------
// Elements by id and copy index, each with its own size, stored with a CRC-16
// and a write counter in "nvram.bin" of the device folder. A write changes
// the image in memory at once; a writer thread writes the whole file behind
// it (about 10 ms after the first change it has not written, the changes
// made meanwhile with it), so no writer waits for the disk. The file goes to
// a temporary name, is synced and renamed into place, so a torn write leaves
// the previous content; a write that fails keeps the changes pending and is
// tried again every second. Each element is kept in two slots that are
// written in turn, so a damaged file still yields the older valid slot. Ids
// not in the table of known elements are accepted with up to
// kNvramUnknownMaxSize bytes and kNvramUnknownMaxCopies copies (their size is
// what was written).
constexpr unsigned NVRAM_ID_LAPOUTFRA = 0;          // 6 bytes, 2 copies
constexpr unsigned NVRAM_ID_LAPSTACK_COUNTERS = 1;  // 4 bytes
constexpr unsigned NVRAM_ID_LAPSTACK = 2;           // 6 bytes, 256 copies (entry = copy index)
constexpr unsigned NVRAM_ID_DISPLAY_PAGE = 8;       // 1 byte
constexpr unsigned NVRAM_ID_DISPLAY_BRIGHTNESS = 9; // 1 byte
constexpr unsigned NVRAM_ID_BOOT_COUNTER = 16;      // 4 bytes
constexpr unsigned NVRAM_ID_ERROR_MEMORY = 32;      // 8192 bytes
constexpr unsigned NVRAM_ID_ECU_ANNOTATION = 33;    // 256 bytes
constexpr unsigned NVRAM_ID_ABS_LAP = 261;          // 2 bytes
constexpr size_t kNvramUnknownMaxSize = 4096;
constexpr unsigned kNvramUnknownMaxCopies = 8;
// Size of a known element, kNvramUnknownMaxSize for others.
size_t nvramElementSize(unsigned id);
unsigned nvramElementCopies(unsigned id);
// Bytes delivered (cut to the element size), -1 when never written or broken.
long nvramRead(unsigned id, unsigned copy, void* dst, size_t len);
// Bytes taken into the image (cut to the element size), -1 for a bad id,
// copy or source. Never waits for the disk.
long nvramWrite(unsigned id, unsigned copy, const void* src, size_t len);
// The changes made between a begin and its end reach the disk in one write,
// never a part of them (batches may nest and overlap).
void nvramBatchBegin();
void nvramBatchEnd();
// Waits until the disk holds every change made so far (not for a raster or
// a network task): one write serves every waiter whose changes were made
// before it began. true when it holds them, false when that write failed.
bool nvramFlush();
// The stamp of the newest change made so far: changes are counted from the
// process start, and the count never goes back.
uint64_t nvramChangeStamp();
// Whether the disk holds every change up to the stamp.
bool nvramStored(uint64_t stamp);
// Waits until the disk holds every change up to the stamp (not for a raster
// or a network task): the write under way serves it when it holds them,
// else the writer's next; false when that write failed (the changes stay
// pending, tried again).
bool nvramFlushTo(uint64_t stamp);
// Writes what is pending and ends the writer thread (the shutdown), waiting
// no longer than limitMs: false when the disk still lacks a change then
// (a writer still writing then goes on). A later change starts it again.
bool nvramStopWriter(unsigned limitMs);
// As nvramFlush, waiting no longer than limitMs: false when the disk still
// lacks a change then (being written, or its write failed).
bool nvramFlushWithin(unsigned limitMs);
// What the disk still lacks, by element ("boot counter (id 16); lap
// counters (id 0, 1 copy)"); "" when it holds every change.
std::string nvramUnstored();
// True when copy `copy` of element id has no valid slot although records of
// it were found with a failed CRC (damaged, as opposed to never written).
bool nvramElementDamaged(unsigned id, unsigned copy);
// Why nvram.bin could not be read ("" when it could or does not exist); the
// database then starts empty.
std::string nvramLoadProblem();
// What a damaged nvram.bin cost ("nvram.bin damaged (...), N entries back to
// their defaults"); "" when it was sound, missing or could not be read.
std::string nvramDamage();
// Why the last whole-file write failed; "" once one has worked.
std::string nvramWriteProblem();
// Writes what is pending, then forgets the in-memory image (tests: simulate
// an orderly restart).
void nvramReload();

// ---- watchdog ---------------------------------------------------------------------------
void watchdogFeed();
void watchdogStarve();
void watchdogShutdown();
uint64_t watchdogFeedCount();
uint64_t watchdogStarveCount();
bool watchdogInShutdown();

// ---- real-time clock ----------------------------------------------------------------------
// An offset of our own over the host clock; the host clock is never set.
int64_t rtcGetUnixMs();
void rtcSetUnixMs(int64_t unixMs);

// ---- PWM and digital I/O ---------------------------------------------------------------
struct PwmState { float duty = 0; float frequency = 0; bool on = false; };
void pwmOutSet(unsigned channel, float duty, float frequency);
PwmState pwmOutGet(unsigned channel);
void pwmOutStop(unsigned channel);                               // on = false, duty kept
void pwmInSet(unsigned channel, float duty, float frequency);   // test stimulus
PwmState pwmInGet(unsigned channel);
void digitalOutSet(unsigned channel, unsigned level);
unsigned digitalOutGet(unsigned channel);
void digitalInSet(unsigned channel, unsigned level);             // test stimulus
unsigned digitalInGet(unsigned channel);

// ---- device record ------------------------------------------------------------------------
struct DeviceRecord {
    char partNumber[16] = "TAV9-0001";
    char serialNumber[16] = "HOST00000001";
    uint32_t lifeTime = 0;
    float maxTemperature = 25.0f;
    uint8_t romId[8] = {0x28, 0x48, 0x4f, 0x53, 0x54, 0, 0, 0x01};
    bool romIdReadable = true;   // false: reading the ROM id fails, as a broken chip's
};
DeviceRecord deviceRecord();
// Replaces the record until the next reset (tests).
void setDeviceRecord(const DeviceRecord& r);

// The unit's own ROM id, kept in "unit.id" of the device folder (16
// hexadecimal digits: family code 0x01, six random bytes, the 1-Wire CRC-8):
// made on the first start in the folder and never replaced, so that every
// folder is a unit of its own and stays the same unit across its restarts.
// Puts it into the device record. Failed, with words that name the file and
// its fault in *why ("unit.id is damaged (...)", "unit.id is a folder",
// "unit.id cannot be made (reason)"): the ROM id then cannot be read.
enum class UnitIdLoad { Read, Made, Failed };
UnitIdLoad loadUnitId(std::string* why);

// ---- screen ---------------------------------------------------------------------------------
// The display driver's flush: hands the visible frame (rows of 0x00RRGGBB words)
// to the sink that the GUI installs; wait returns when the sink took it.
using ScreenSink = std::function<void(const uint32_t* pixels, int width, int height, int strideWords)>;
void setScreenSink(ScreenSink sink);
int screenFlush(const uint32_t* pixels, int width, int height, int strideWords);
int screenWaitFlush();
// Every flush copies the frame into a back buffer and counts it; a writer
// thread writes "screen.png" of the device folder (temporary file and rename)
// when the frame changed, at most about four times a second.
uint64_t screenFrameNumber();                 // frames flushed so far
uint64_t screenWrittenFrame();                // frame number of the last screen.png
// Waits until screen.png holds frame frameNumber or a later one; true when it
// does, false after timeoutMs (negative: wait forever).
bool waitScreenFrame(uint64_t frameNumber, int timeoutMs);
// Writes the frames flushed before the call, then ends the writer thread; a
// flush meanwhile or later starts a fresh one. With limitMs >= 0 it waits no
// longer than that: false then when the writer was still inside a frame; it
// ends after that frame, which may still reach screen.png.
bool screenStop(int limitMs = -1);
// Joins the screen writer a limited stop left behind, once it has ended.
void screenJoinEnded();

// ---- shared page of the sibling application ---------------------------------------------------
// "/shm/ApplComm": a page of 4096 bytes the sibling application writes; on the
// host tests and the stimulus write it. Guarded by the named semaphore
// "/ApplComSem".
constexpr size_t kApplCommPageSize = 4096;
uint8_t* applCommPage();

// ---- time-synchronisation core ---------------------------------------------------------------
// Time stamp in 0.1 ms (wraps at 2^32): the device's own count, plus, on a
// locked slave core, the offset that puts it in its master's time.
uint32_t timeStamp();
// The device's own count alone: it never steps when a slave takes its
// master's time, so it times what must not jump (a writer's liveness).
uint32_t ownTimeStamp();
// Where the own count starts, added to every time stamp (tests: start near
// the wrap); the offset a slave core takes from its master comes on top.
void setTimeStampOffset(uint32_t offset);
// 0 free running, 1 synchronised (a master core always; a slave core locked
// on the gap time stamps written into it), or the state a test forced.
uint32_t timeSyncState();
// Forces the state (tests) until the next reset.
void setTimeSyncState(uint32_t state);
// Next-gap register: in master mode the time stamp of the coming gap, in
// slave mode the value written last. A write in slave mode is a gap stamp
// received from the master (the stamp of the gap after the one it has just
// passed): the core locks on them and takes the master's time.
uint32_t timeNextGap();
void setTimeNextGap(uint32_t gap);
// The master's time base changed (it runs anew, or another device is master
// now): the next gap stamp locks the slave core anew, one step either way
// onto the new time, with the sync state kept as it is.
void restartTimeLock();
// Locks onto a new time base that ended with no step back (wraps): the new
// time base lay ahead, or where this device stood (a master that ran anew on
// the same clock), or the core had never locked. Until the count moves on
// after restartTimeLock(), the lock is under way or stepped back.
uint32_t timeRelocksWithoutStepBack();
// Of those, the locks that stepped forward onto a new time base (wraps): one
// 25 ms or more ahead, as far as one stepped back onto lies behind at the
// least. Counted before the first stamp of the new time can be read.
uint32_t timeRelocksAhead();
// Master mode of the core: the gap interrupt (63) fires every 100 ms, on a
// grid that stays 100 ms apart across the wrap, driven by the base tick.
void setTimeMasterMode(bool on);
bool timeMasterMode();

// ---- base tick --------------------------------------------------------------------------------
// Manual ticks (tests): with manual = true opens the named counting semaphore
// "/BASETICK0" that baseTick() gives and runBaseTick(..., true) takes. The
// clock's own ticks need nothing started: they run on the task in
// runBaseTick().
void startBaseTick(bool manual);
// Real-time scheduling: when enabled (and the host permits it, which the
// call finds out), tasks spawned afterwards run under SCHED_FIFO in the order
// of their device priorities, lower numbers first, and the base tick above
// them all. False (nothing changed) when the host refuses.
bool enableRealtimeScheduling();
void disableRealtimeScheduling();
bool realtimeSchedulingEnabled();
// For good: enableRealtimeScheduling() refuses, and no thread (the base tick's
// neither) takes a real-time priority. Called before any task is spawned.
void forbidRealtimeScheduling();
bool realtimeSchedulingForbidden();
// The host priority of a device priority (0..255, lower more urgent).
int realtimePriorityOf(int devicePriority);
int realtimeBaseTickPriority();
// Puts the calling thread at the host priority of the device priority, if
// real-time scheduling is enabled.
void applyRealtimePriority(int devicePriority);
// Makes the calling thread, started by whichever task needed it first, an
// ordinary background thread with the given name: it never keeps a task's
// real-time policy and priority (std::thread inherits them).
void becomeBackgroundThread(const char* name);
// The board's two cores: binds the process (the calling thread, before it
// starts any other) to two host CPUs, TAV9_HOST_CPUS="a,b" or a pair chosen
// from the CPUs it may use. False when that fails or the variable names CPUs
// it may not use (*problem says which; a chosen pair is then bound). Until
// bound, tasks bound to a core run on any CPU.
bool bindBoardCores(std::string* problem);
// Host CPU of board core 0 or 1 once bound, else -1.
int boardCoreHostCpu(int core);
// Drops the manual ticks given and not taken.
void stopBaseTick();
// Runs the base tick on the calling task: it sleeps to each 1 ms deadline
// itself and calls onTick with the deadline's stamp, so whatever onTick wakes
// is woken by the clock in one hop. The task rises to the base tick's
// priority. With manual = true it takes "/BASETICK0" instead (ticks given by
// baseTick()). Returns, or is unwound, when the task is deleted.
using BaseTickHandler = void (*)(uint32_t stamp);
void runBaseTick(BaseTickHandler onTick, bool manual);
void baseTick();                    // one tick by hand
uint64_t baseTickCount();
// Time stamp (0.1 ms) of the latest tick's deadline: the ticks lie on an
// exact 1 ms grid, however late a task gets to run.
uint32_t baseTickStamp();
// Ticks the clock's own ticks skipped after lags of more than 100 ms (the
// task woke that late): counted before the tick that follows such a lag is
// handled, so its handler can account for them. Never reset.
uint64_t baseTickSkipped();
// Once a spell in which the base tick cannot keep up with its clock (three
// such lags within 10 s; a new spell after 10 s without one): the words that
// say so, with its host CPU and the ms skipped; "" otherwise.
std::string baseTickStarved();

// ---- CAN --------------------------------------------------------------------------------------
// A frame in the layout of Linux's struct canfd_frame (72 bytes); id bit 31
// marks an extended identifier.
struct CanFrame {
    uint32_t id = 0;
    uint8_t len = 0;
    uint8_t flags = 0;
    uint8_t res0 = 0, res1 = 0;
    uint8_t data[64] = {};
};
static_assert(sizeof(CanFrame) == 72);
constexpr uint32_t CAN_EFF_FLAG = 0x80000000u;
constexpr uint32_t CAN_EFF_MASK = 0x1FFFFFFFu;   // the identifier without the flag bits
constexpr uint8_t CANFD_BRS = 0x01;
constexpr uint8_t CANFD_FDF = 0x04;

// A bus carries frames of one interface. The default bus sends each frame as
// one UDP datagram to 127.0.0.1:<port of the interface + 1000> and receives on
// 127.0.0.1:<port> (ports from start.cfg, default 29536 and 29537). A datagram
// is one struct canfd_frame (72 bytes) or one classic struct can_frame (16
// bytes); other lengths are dropped. A script injects a frame with
//   s.sendto(struct.pack("<IBBBB64s", id, len, flags, 0, 0, data), ("127.0.0.1", 29536))
// and captures sent frames by binding 127.0.0.1:30536. The loopback bus keeps
// sent frames in an in-process list that tests read, and tests inject
// received frames into it.
class CanBus {
public:
    virtual ~CanBus() = default;
    virtual bool send(const CanFrame& f) = 0;
    // Received frames are handed to the kernel-side receive path by the bus.
    // A bus with a thread of its own ends it in two steps, for a close with
    // a bound: asks it to end, then waits for it until `until` (steady clock,
    // ms since its epoch); false while it still runs.
    virtual void askStop() {}
    virtual bool waitEnded(int64_t untilMs) {
        (void)untilMs;
        return true;
    }
};
// Registers an identifier for reception on an interface (the kernel filters
// frames by it); received frames of registered ids go to the queue
// "/msgQ_RX_Can_<appNumber>" as CanRxMsg records.
struct CanRxMsg {
    uint8_t interface;
    uint8_t format;          // identifier format byte as registered
    uint8_t len;
    uint8_t flags;
    uint32_t id;
    uint32_t timeStamp;      // 0.1 ms
    uint8_t data[64];
};
int canRegisterRx(unsigned interface, uint8_t format, uint32_t id);
int canSend(unsigned interface, const CanFrame& frame);
int canSetBaudrate(unsigned interface, uint32_t nominal, uint32_t data);
int canStart(unsigned interface);
// Opens the buses from the start parameters ("udp" or "loopback").
void canOpen(int appNumber);
void canClose();
// The same within limitMs: a bus or a socketcand server whose thread has not
// ended by then (it gets no CPU) is left to it, open, for the rest of the
// process. False when one was left.
bool canClose(unsigned limitMs);
// Loopback bus hooks for tests.
std::vector<CanFrame> canLoopbackTake(unsigned interface);    // frames sent
void canLoopbackInject(unsigned interface, const CanFrame& f); // frame received
// The receive path of every bus: filters by registered identifier and puts a
// CanRxMsg into the receive queue (dropped and counted when the queue is full).
void canDeliver(unsigned interface, const CanFrame& f);
uint64_t canRxDropped();
constexpr int kCanRxQueueDepth = 1024;

// ---- serial ports ------------------------------------------------------------------------------
// Opens "/tyCo/<n>" as the host path of the start parameters; returns an fd or -1.
int serialOpen(const std::string& device, int flags);
int serialSetBaud(int fd, int baud);
int serialSetRaw(int fd);

// ---- queues reachable from other processes ------------------------------------------------
// The kernel side's named queues "/MeasAppFormat", "/MeasAppFormatAck",
// "/MeasAppRCTRL_RX" and "/MeasAppRCTRL_TX" are POSIX message queues that
// other programs open too. Their POSIX names are scoped by the device folder:
// processQueueName(folder, "/MeasAppRCTRL_RX") gives
// "/tav9-<hash of the folder's device and inode>-MeasAppRCTRL_RX" ("" for
// any other name, or a folder that cannot be reached), so that a folder
// renamed while its device runs keeps its queues and a new folder at its old
// name gets others. msgQOpen/msgQUnlink of these names go to the queues of
// the device folder (the folder itself, whatever its name is by now).
std::string processQueueName(const std::string& folder, const std::string& name);
// Unlinks all four (shutdown; start-up: leftovers of a killed process).
void unlinkProcessQueues();

// ---- writes under way ---------------------------------------------------------------------
// The writes of the device folder's own files (the atomic writes of the
// NVRAM, the drives' format, the attributes, the unit id) note themselves
// while they run: a stop that cannot wait for the disk names those it leaves.
class DiskWriteNote {
public:
    explicit DiskWriteNote(const std::string& path);
    ~DiskWriteNote();
    DiskWriteNote(const DiskWriteNote&) = delete;
    DiskWriteNote& operator=(const DiskWriteNote&) = delete;

private:
    uint64_t id_;
};
struct DiskWriteUnderWay {
    std::string path;   // the file written
    long ms;            // for how long
};
std::vector<DiskWriteUnderWay> diskWritesUnderWay();

// ---- disk-format service ------------------------------------------------------------------
// Serves "/MeasAppFormat" (17-byte requests: byte 0 the directory size in
// units of 340 entries, bytes 1-16 the drive name) and answers each on
// "/MeasAppFormatAck" with the request itself. A host folder has no
// directory of fixed size: the drive is recorded as formatted for the size
// asked for (setDriveDirectorySize) and its files are left as they are.
// The request carries the size in whole units only; sizeOf, when given,
// names the exact size the device asked for (drive "meas:", units), else a
// drive gets units x 340 entries. A size that cannot be recorded is told to
// onFailure (the drive, the size, the file it failed on and why: "meas:",
// 1000, "drive_format.cfg.tmp: Is a directory"), without one on stderr; the
// request is answered all the same.
using FormatSizeSource = uint32_t (*)(const char* drive, uint8_t units);
using FormatFailureSink = void (*)(const char* drive, uint32_t size, const char* why);
void startFormatService(FormatSizeSource sizeOf = nullptr, FormatFailureSink onFailure = nullptr);
void stopFormatService();
// The stop of a process, which must not wait on the disk: waits up to
// limitMs for the service to end; false when it is still inside a write
// then, which *left names ("the write of drive_format.cfg recording meas:
// as formatted for 1000 entries"): the service is left to it.
bool stopFormatService(unsigned limitMs, std::string* left);

// File-system statistics of a drive (the statistics request of its root):
// entries in use and in all. A drive the format service has formatted
// answers the size it was formatted for; others the host folder's file
// system totals. False for a drive that is not available.
bool driveFileStatistics(const std::string& drive, uint32_t* used, uint32_t* total);
// The recorded directory size of a drive (0: never formatted), and its
// record in "drive_format.cfg" of the device folder (false, the file left as
// it is, when that is a folder or a link that leads nowhere, or when the
// write fails; why, when given, then names the file it failed on and what
// was wrong: "drive_format.cfg.tmp: Is a directory").
uint32_t driveDirectorySize(const std::string& drive);
bool setDriveDirectorySize(const std::string& drive, uint32_t size, std::string* why = nullptr);
// What the last reading of "drive_format.cfg" found wrong with it (a folder,
// a link that leads nowhere, empty, too large, a NUL byte, unusable lines),
// "" when nothing or when it is missing. The file is parsed again only when
// its stamp has changed.
std::string driveFormatProblem();
// The requests served since the start (tests).
std::vector<std::vector<uint8_t>> formatRequestsServed();

// ---- the numbered system call -------------------------------------------------------------------
// Numbers: service block x 64 + routine. Argument layout of every number (a1..a8
// of rtpSyscall; a1 is always the application number; pointers are passed as
// full intptr_t; floats as their IEEE bits in the low 32 bits, see argFloat):
//   SC_REFPAGE_STORE   a2 src ptr, a3 len            -> len stored in kRefpageFile, -1
//   SC_REFPAGE_LOAD    a2 dst ptr, a3 len            -> bytes loaded (cut to the file), -1 never stored,
//                                                       -2 unreadable
//   SC_SHELL_REGISTER  a2 const char* name            -> 0 (the shell bridge is in-process)
//   SC_NVRAM_READ      a2 id, a3 copy, a4 dst ptr, a5 len -> bytes delivered (cut), -1
//   SC_NVRAM_WRITE     a2 id, a3 copy, a4 src ptr, a5 len -> bytes written (cut), -1
//   SC_DRIVE_AVAILABLE a2 const char* drive ("meas:", "usb_meas" ...) -> 0 available, -1 not
//   SC_IRQ_TO_QUEUE    a2 irq, a3 const char* queue name, a4 message size -> 0 (the
//                      queue is created; only the time core's gap interrupt 63
//                      fires on the host, with the 4-byte time stamp)
//   SC_CAN_REGISTER_RX a2 interface, a3 format byte, a4 identifier -> 0, -1
//   SC_CAN_SEND        a2 interface, a3 const CanFrame* -> 0, -1
//   SC_CAN_BAUDRATE    a2 interface, a3 nominal bit/s, a4 data bit/s -> 0, -1
//   SC_CAN_START       a2 interface                   -> 0, -1
//   SC_OW_ROMID        a2 uint8_t dst[8]              -> 0
//   SC_EPK_HANDOVER    a2 const char* epk, a3 len     -> 0 (kept, see handedOverEpk)
//   SC_SETTINGS        a2 setting id, a3 value        -> 0 (recorded only)
//   SC_ADD_SUBNET      a2 IPv4 address (host order)   -> 0 (recorded; host sockets are used)
//   SC_DEFAULT_GW      a2 IPv4 address (host order)   -> 0 (recorded)
//   SC_USB_MON_RESET   -                              -> 0
//   SC_MEAS_STATUS     a2 status word                 -> 0 (see measStatusWord)
//   SC_APPMAN_CHECK    a2 interface version           -> 0 (compatible)
//   SC_APPMAN          a2 interface word (ignored), a3 AppManOp, then:
//                        AM_READ_PARAMS a4 StartParamsRecord* dst -> 0 (reads start.cfg)
//                        AM_WATCHDOG_FEED / _STARVE / _SHUTDOWN    -> 0
//                        AM_SYMBOL_ADDRESS a4 const char* name, a5 void** out -> 0, -1
//   SC_SHM_BASE + 0    a2 const char* page name ("/shm/ApplComm"), a3 void** out -> 0, -1
//   SC_SHM_BASE + 1    a2 offset, a3 dst ptr, a4 len  -> bytes read (cut to the page), -1
//   SC_SHM_BASE + 2    a2 offset, a3 src ptr, a4 len  -> bytes written (cut), -1
//   SC_SHM_BASE + 3    -                              -> page size (4096)
//   SC_DEVREC_BASE + 0 a2 DeviceRecord* dst           -> sizeof(DeviceRecord)
//   SC_DEVREC_BASE + 1 a2 char dst[16] part number    -> 16
//   SC_DEVREC_BASE + 2 a2 char dst[16] serial number  -> 16
//   SC_DEVREC_BASE + 3 a2 uint32_t* life time, a3 float* max temperature (either null) -> 0
//   SC_PWM_IN_BASE + 0 a2 channel, a3 float* duty out        -> 0, -1
//   SC_PWM_IN_BASE + 1 a2 channel, a3 float* frequency out   -> 0, -1
//   SC_PWM_IN_BASE + 2 a2 channel (configure; accepted)      -> 0, -1
//   SC_PWM_OUT_SET     a2 channel, a3 duty (float bits), a4 frequency (float bits) -> 0, -1
//   SC_PWM_OUT_STOP    a2 channel                     -> 0, -1
//   SC_RTC_READ        a2 int64_t* unix time in ms out -> 0
//   SC_RTC_WRITE       a2 unix time in ms (int64)     -> 0
//   SC_SCREEN_FLUSH    a2 const uint32_t* frame, a3 width, a4 height, a5 stride in
//                      words (0 for any of the three: 640, 480, 1024) -> 0, -1
//   SC_SCREEN_WAIT     -                              -> 0 (the flush copies at once)
//   SC_BOOTLOGO        a2 dst ptr, a3 room in bytes   -> bytes copied from "bootlogo.bin"
//   SC_BOOTLOGO_SIZE   a2 uint32_t* size out          -> 0 (size 0 without a logo file)
// File of the device folder that keeps the stored reference page.
constexpr const char* kRefpageFile = "calpage.bin";
enum SyscallNo : int {
    SC_REFPAGE_STORE = 2688,
    SC_REFPAGE_LOAD = 2689,
    SC_SHELL_REGISTER = 2690,
    SC_NVRAM_READ = 2691,
    SC_NVRAM_WRITE = 2692,
    SC_DRIVE_AVAILABLE = 2693,
    SC_IRQ_TO_QUEUE = 2694,
    SC_CAN_REGISTER_RX = 2695,
    SC_CAN_SEND = 2696,
    SC_CAN_BAUDRATE = 2697,
    SC_CAN_START = 2698,
    SC_OW_ROMID = 2699,
    SC_EPK_HANDOVER = 2700,
    SC_SETTINGS = 2701,
    SC_ADD_SUBNET = 2705,
    SC_DEFAULT_GW = 2706,
    SC_USB_MON_RESET = 2707,
    SC_MEAS_STATUS = 2708,
    SC_APPMAN_CHECK = 2752,
    SC_APPMAN = 2753,            // sub-operations AM_*
    SC_SHM_BASE = 3520,          // 3520..3523
    SC_DEVREC_BASE = 3712,       // 3712..3715
    SC_PWM_IN_BASE = 3840,       // 3840..3842
    SC_PWM_OUT_SET = 3904,
    SC_PWM_OUT_STOP = 3905,
    SC_RTC_READ = 3968,
    SC_RTC_WRITE = 3969,
    SC_SCREEN_FLUSH = 4289,
    SC_SCREEN_WAIT = 4290,
    SC_BOOTLOGO = 4291,
    SC_BOOTLOGO_SIZE = 4292,
};
enum AppManOp : int {
    AM_READ_PARAMS = 1,
    AM_WATCHDOG_FEED = 2,
    AM_WATCHDOG_STARVE = 3,
    AM_WATCHDOG_SHUTDOWN = 4,
    AM_SYMBOL_ADDRESS = 5,
};
// Start parameters as the application manager hands them over (AM_READ_PARAMS).
struct StartParamsRecord {
    int32_t appNumber;
    uint8_t pid;
    uint8_t res[3];
    char ip[20];                 // dotted text, 0-terminated
    uint16_t xcpPort;
    uint16_t portOffset;
};
// Floats travel as their bits.
inline intptr_t floatArg(float f) {
    uint32_t u;
    __builtin_memcpy(&u, &f, 4);
    return static_cast<intptr_t>(u);
}
inline float argFloat(intptr_t a) {
    uint32_t u = static_cast<uint32_t>(a);
    float f;
    __builtin_memcpy(&f, &u, 4);
    return f;
}
// Symbols the application manager resolves by name (AM_SYMBOL_ADDRESS).
void registerSymbol(const std::string& name, void* address);
// What the process handed over to the kernel side (tests read it back).
std::string handedOverEpk();
uint32_t measStatusWord();
// The dispatcher: eight arguments (integers or pointers) and the number;
// 0 or a non-negative value is success, -1 failure.
long rtpSyscall(intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4,
                intptr_t a5, intptr_t a6, intptr_t a7, intptr_t a8, int number);

// Stops the threads of the kernel side (base tick, CAN buses, screen writer);
// the process calls it at the end of its orderly shutdown. The NVRAM's writer
// gets limitMs for what it still holds.
// Joins the tasks that have returned by themselves (the process ends with
// _exit, so nothing else would).
void joinEndedTasks();
void shutdownServices(unsigned limitMs = 1000);

// Resets every service to its start state and stops its threads (tests).
void resetForTest();

}  // namespace host
