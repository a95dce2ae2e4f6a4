// Actions: the command objects that carry file content and file operations
// from the logger through the pretrigger and the back end to the writers.
//
// Data handed to an action (frame buffers, metadata copies) belongs to it and
// is freed with it. Each action names the writer types that execute it (mask:
// 1 internal drive, 2 USB drive, 4 network stream) and whether the pretrigger
// forwards it while it is only buffering.
#pragma once

#include <cstdint>

namespace measure::store {

class Writer;
class VirtualFile;

constexpr uint8_t WRITER_TYPE_BFS = 1;
constexpr uint8_t WRITER_TYPE_USB = 2;
constexpr uint8_t WRITER_TYPE_HST = 4;
constexpr uint8_t WRITER_TYPES_FILE = WRITER_TYPE_BFS | WRITER_TYPE_USB;
constexpr uint8_t WRITER_TYPES_ALL = 7;

class Action {
public:
    Action(uint32_t firstTimestamp, uint32_t timestamp) : timestamp_(timestamp), firstTimestamp_(firstTimestamp) {}
    virtual ~Action() = default;
    Action(const Action&) = delete;
    Action& operator=(const Action&) = delete;

    virtual void setWriterType(unsigned char mask) { writerMask_ = mask; }
    virtual int vfIdx() const { return -1; }
    // Bytes the action adds to a file.
    virtual uint32_t dataSize() const { return 0; }
    // Bytes the action accounts for in a list.
    virtual uint32_t size() const = 0;
    virtual bool isValidType(const Writer& w) const;

    // 2 when the writer's type is not in the mask (nothing done), 0 when
    // executed, 1 when it failed.
    int execute(Writer& w);
    uint32_t timestamp() const { return timestamp_; }
    uint32_t firstTimestamp() const { return firstTimestamp_; }
    bool forward() const { return forward_ != 0; }
    unsigned char writerMask() const { return writerMask_; }

protected:
    virtual bool executeFunc(Writer& w) = 0;
    uint32_t timestamp_;
    uint32_t firstTimestamp_;
    unsigned char writerMask_ = WRITER_TYPES_ALL;
    unsigned char forward_ = 0;
};

class ActionVfIdx : public Action {
public:
    ActionVfIdx(uint32_t firstTs, uint32_t ts, int vfIdx) : Action(firstTs, ts), vfIdx_(vfIdx) {}
    int vfIdx() const override { return vfIdx_; }

protected:
    int vfIdx_;
};

// A data frame (or header bytes): written as it is.
class ActionData : public ActionVfIdx {
public:
    // Takes ownership of data (malloc'ed).
    ActionData(uint32_t firstTs, uint32_t ts, int vfIdx, uint8_t* data, uint32_t length);
    ~ActionData() override;
    uint32_t size() const override { return length_ + 28; }
    uint32_t dataSize() const override { return length_; }
    const uint8_t* data() const { return data_; }
    uint32_t length() const { return length_; }

protected:
    bool executeFunc(Writer& w) override;
    uint8_t* data_;
    uint32_t length_;
};

// A metadata block (type 0..7). Types 0, 2 and 5, and an event's close, are
// forwarded by a buffering pretrigger; a time stamp given here lets the block
// age in the pretrigger ring like the data around it (events), instead of
// counting as the oldest.
class ActionMetaData : public ActionData {
public:
    ActionMetaData(int vfIdx, uint8_t type, uint8_t* data, uint32_t length, uint32_t timestamp = 0);
    uint32_t dataSize() const override { return length_ + (type_ == 0 ? 0 : 6); }
    uint8_t type() const { return type_; }
    // An event block's event: its source PID, id and start; *open tells
    // whether the block opens it (else it closes it, or is instantaneous).
    // False for any other block.
    struct EventKey {
        uint16_t pid;
        uint32_t id, start;
        bool operator==(const EventKey&) const = default;
    };
    bool eventKey(EventKey* key, bool* open) const;

protected:
    bool executeFunc(Writer& w) override;
    uint8_t type_;
};

// Announces a new file to the writers; the file itself opens on its first write.
class ActionOpen : public ActionVfIdx {
public:
    // Throws "ActionOpen(NULL, ...) received no vfile pointer" for a null file.
    ActionOpen(unsigned measIdx, VirtualFile* vfile, int vfIdx);
    uint32_t size() const override { return 28; }

protected:
    bool executeFunc(Writer& w) override;
    unsigned measIdx_;
    VirtualFile* vfile_;
};

// Closes a file on every writer. Making it invalidates the file's file info;
// deleting it (once every writer has passed it) deletes the virtual file.
class ActionClose : public ActionVfIdx {
public:
    ActionClose(unsigned measIdx, int vfIdx);
    ~ActionClose() override;
    uint32_t size() const override { return 24; }
    // Takes the virtual file out of the registry now (its slot takes a new
    // file); the file itself goes with this action.
    void release();

protected:
    bool executeFunc(Writer& w) override;
    unsigned measIdx_;
    bool released_ = false;
    VirtualFile* file_ = nullptr;
};

// What stands in the queue for an action taken out of it: no writer executes it.
class ActionDone : public Action {
public:
    ActionDone() : Action(0, 0) { writerMask_ = 0; }
    uint32_t size() const override { return 16; }

protected:
    bool executeFunc(Writer&) override { return true; }
};

class ActionFlushFile : public ActionVfIdx {
public:
    explicit ActionFlushFile(int vfIdx);
    uint32_t size() const override { return 20; }

protected:
    bool executeFunc(Writer& w) override;
};

class ActionFlushDir : public Action {
public:
    ActionFlushDir();
    uint32_t size() const override { return 16; }

protected:
    bool executeFunc(Writer& w) override;
};

class ActionFlushAll : public Action {
public:
    ActionFlushAll();
    uint32_t size() const override { return 16; }

protected:
    bool executeFunc(Writer& w) override;
};

}  // namespace measure::store

// The file to copy to the USB drive: its counters and name.
struct CopyFile_t {
    uint16_t outing;
    uint16_t lap;
    uint16_t absLap;
    uint16_t fragment;
    const char* name;
    uint8_t nameOwned;      // 1: the action keeps a copy of the name
};

// The routine of the copy task ("r_FileCpyTask%c"); set by the drive code.
using MeasCopyFileTask = void (*)(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment,
                                  unsigned measIdx, char* name, uint8_t nameOwned);
void meas_app_setCopyFileTask(MeasCopyFileTask task);

namespace measure::store {

// Starts the copy of a file to the USB drive; executed by internal-drive writers only.
class ActionFileCopy : public Action {
public:
    explicit ActionFileCopy(const CopyFile_t& copy);
    ~ActionFileCopy() override;
    uint32_t size() const override { return 36 + (owned_ ? nameLength_ : 0); }

protected:
    bool executeFunc(Writer& w) override;
    CopyFile_t copy_;
    char* ownedName_ = nullptr;
    bool owned_;
    uint32_t nameLength_;
};

}  // namespace measure::store
