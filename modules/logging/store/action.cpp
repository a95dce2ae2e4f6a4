#include "logging/store/action.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/os/os.h"
#include "logging/store/virtual_file.h"
#include "logging/store/writer.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"

namespace {
std::atomic<MeasCopyFileTask> copyFileTask{nullptr};
}

void meas_app_setCopyFileTask(MeasCopyFileTask task) { copyFileTask.store(task); }

namespace measure::store {

bool Action::isValidType(const Writer& w) const { return (writerMask_ & w.type()) != 0; }

int Action::execute(Writer& w) {
    if (!isValidType(w)) return 2;
    return executeFunc(w) ? 0 : 1;
}

ActionData::ActionData(uint32_t firstTs, uint32_t ts, int vfIdx, uint8_t* data, uint32_t length)
    : ActionVfIdx(firstTs, ts, vfIdx), data_(data), length_(data ? length : 0) {}

ActionData::~ActionData() { std::free(data_); }

bool ActionData::executeFunc(Writer& w) { return w.write(vfIdx_, data_, length_); }

namespace {

// An event block (type 6: 4 bytes of head, then id, start and duration) that
// closes an event: a buffering pretrigger keeps it, for the event's open may
// be in the file already (handed over with an earlier trigger's window), and
// an open left without its close would last to the end of the recording.
bool closesAnEvent(uint8_t type, const uint8_t* data, uint32_t length) {
    if (type != 6 || !data || length < 16) return false;
    const uint32_t duration = be_get32(data + 12);
    return duration != 0 && duration != 0xFFFFFFFFu;
}

}  // namespace

ActionMetaData::ActionMetaData(int vfIdx, uint8_t type, uint8_t* data, uint32_t length, uint32_t timestamp)
    : ActionData(timestamp, timestamp, vfIdx, data, length), type_(type) {
    forward_ = (type == 0 || type == 2 || type == 5 || closesAnEvent(type, data, length)) ? 1 : 0;
}

bool ActionMetaData::eventKey(EventKey* key, bool* open) const {
    // 4 bytes of head, then id, start, duration, kind, severity and source PID
    if (type_ != 6 || !data_ || length_ < 20) return false;
    key->id = be_get32(data_ + 4);
    key->start = be_get32(data_ + 8);
    key->pid = be_get16(data_ + 18);
    *open = be_get32(data_ + 12) == 0xFFFFFFFFu;
    return true;
}

bool ActionMetaData::executeFunc(Writer& w) { return w.writeMetaData(vfIdx_, data_, length_, type_); }

ActionOpen::ActionOpen(unsigned measIdx, VirtualFile* vfile, int vfIdx)
    : ActionVfIdx(0, 0, vfIdx), measIdx_(measIdx), vfile_(vfile) {
    if (!vfile) throw "ActionOpen(NULL, ...) received no vfile pointer";
    forward_ = 1;
}

bool ActionOpen::executeFunc(Writer& w) {
    if (!vfile_->isRegisteredWriter(measIdx_, w.id())) {
        vfile_->registerWriter(measIdx_, w.id());
        char name[16] = {};
        vfile_->getFileName(name, sizeof name);
        syslogx(151, "ActionOpen::execute() - attached writer late %s", name);
    }
    return true;
}

ActionClose::ActionClose(unsigned measIdx, int vfIdx) : ActionVfIdx(0, 0, vfIdx), measIdx_(measIdx) {
    forward_ = 1;
    if (VirtualFile* vf = virtualFiles.get(measIdx, vfIdx))
        vf->invalidateFileInfo();
    else
        syslogx(147, "ActionClose::ActionClose() - vfile index %d/%d is invalid!", int(measIdx), vfIdx);
}

void ActionClose::release() {
    if (released_) return;
    released_ = true;
    file_ = virtualFiles.remove(measIdx_, vfIdx_);
    if (!file_) syslogx(147, "ActionClose::~ActionClose() - vfile index %d/%d is invalid!", int(measIdx_), vfIdx_);
}

ActionClose::~ActionClose() {
    release();
    delete file_;
}

bool ActionClose::executeFunc(Writer& w) { return w.close(vfIdx_); }

ActionFlushFile::ActionFlushFile(int vfIdx) : ActionVfIdx(0, 0, vfIdx) {
    writerMask_ = WRITER_TYPES_FILE;
    forward_ = 1;
}

bool ActionFlushFile::executeFunc(Writer& w) { return w.flush(vfIdx_); }

ActionFlushDir::ActionFlushDir() : Action(0, 0) {
    writerMask_ = WRITER_TYPES_FILE;
    forward_ = 1;
}

bool ActionFlushDir::executeFunc(Writer& w) { return w.flushDir(); }

ActionFlushAll::ActionFlushAll() : Action(0, 0) {
    writerMask_ = WRITER_TYPES_FILE;
    forward_ = 1;
}

bool ActionFlushAll::executeFunc(Writer& w) { return w.flushAll(); }

ActionFileCopy::ActionFileCopy(const CopyFile_t& copy)
    : Action(0, 0), copy_(copy), owned_(copy.nameOwned != 0),
      nameLength_(copy.name ? uint32_t(strnlen(copy.name, 40)) : 0) {
    writerMask_ = WRITER_TYPE_BFS;
    forward_ = 1;
    if (owned_ && copy.name) {
        ownedName_ = static_cast<char*>(std::calloc(1, nameLength_ + 1));
        if (ownedName_) std::memcpy(ownedName_, copy.name, nameLength_);
        copy_.name = ownedName_;
    }
}

ActionFileCopy::~ActionFileCopy() { std::free(ownedName_); }

bool ActionFileCopy::executeFunc(Writer& w) {
    // the copy task gets a name of its own, which it frees when it owns it
    char* name = nullptr;
    if (copy_.name) {
        name = static_cast<char*>(std::calloc(1, nameLength_ + 1));
        if (!name) {
            syslogx(147, "ActionFileCopy::execute() calloc returned a NULL pointer.");
            return false;
        }
        std::memcpy(name, copy_.name, nameLength_);
    }
    char task[20];
    std::snprintf(task, sizeof task, "r_FileCpyTask%c", char('A' + w.measIdx() / 2));
    MeasCopyFileTask fn = copyFileTask.load();
    CopyFile_t c = copy_;
    unsigned m = w.measIdx();
    TASK_ID tid = fn ? taskSpawn(task, 160, VX_FP_TASK, 20480,
                                 [fn, c, m, name] { fn(c.outing, c.lap, c.absLap, c.fragment, m, name, 1); })
                     : nullptr;
    if (!tid) {
        std::free(name);
        syslogx(147, "ActionFileCopy::execute(): start of %s task failed!", task);
        return false;
    }
    return true;
}

}  // namespace measure::store
