// Process-wide registry of named semaphores and message queues (semOpen,
// msgQOpen). A named object lives until it is unlinked and its last opener has
// closed it (or until it is deleted outright).
#include "host/os/os_internal.h"

#include <mqueue.h>

#include <map>

namespace {

struct Names {
    std::mutex mx;
    std::map<std::string, HostSem*> sems;
    std::map<std::string, HostMsgQ*> queues;
};
Names& names() {
    static Names* n = new Names;   // never destroyed: tasks may outlive statics
    return *n;
}

// Semaphores and queues share the life cycle: Obj has name, opens and
// unlinked; destroy frees it once no task waits in it.
template <class Obj>
void forgetNamed(std::map<std::string, Obj*>& table, Obj* obj) {
    std::lock_guard<std::mutex> lk(names().mx);
    auto it = table.find(obj->name);
    if (it != table.end() && it->second == obj) table.erase(it);
}

// The named object, with one more opener; nullptr when it is missing and
// omFlags has no OM_CREATE, or create fails.
template <class Obj, class Create>
Obj* openNamed(std::map<std::string, Obj*>& table, const char* name, int omFlags, Create create) {
    if (!name || !*name) return nullptr;
    std::lock_guard<std::mutex> lk(names().mx);
    auto it = table.find(name);
    if (it != table.end()) {
        ++it->second->opens;
        return it->second;
    }
    if (!(omFlags & OM_CREATE)) return nullptr;
    Obj* obj = create();
    if (!obj) return nullptr;
    obj->name = name;
    obj->opens = 1;
    table[name] = obj;
    return obj;
}

template <class Obj>
STATUS closeNamed(Obj* obj, void (*destroy)(Obj*)) {
    if (!obj) return ERROR;
    bool last = false;
    {
        std::lock_guard<std::mutex> lk(names().mx);
        if (obj->opens <= 0) return ERROR;
        last = --obj->opens == 0 && obj->unlinked;
    }
    if (last) destroy(obj);
    return OK;
}

template <class Obj>
STATUS unlinkNamed(std::map<std::string, Obj*>& table, const char* name, void (*destroy)(Obj*)) {
    if (!name) return ERROR;
    Obj* unused = nullptr;
    {
        std::lock_guard<std::mutex> lk(names().mx);
        auto it = table.find(name);
        if (it == table.end()) return ERROR;
        Obj* obj = it->second;
        table.erase(it);
        obj->unlinked = true;
        if (obj->opens <= 0) unused = obj;
    }
    if (unused) destroy(unused);
    return OK;
}

}  // namespace

namespace hostos {

void namedForgetSem(SEM_ID sem) { forgetNamed(names().sems, sem); }

void namedForgetMsgQ(MSG_Q_ID q) { forgetNamed(names().queues, q); }

}  // namespace hostos

SEM_ID semOpen(const char* name, SEM_TYPE type, int initial, int, int omFlags) {
    return openNamed(names().sems, name, omFlags, [&] { return hostos::semCreateTyped(type, initial); });
}

STATUS semClose(SEM_ID sem) { return closeNamed(sem, hostos::semDestroy); }

STATUS semUnlink(const char* name) { return unlinkNamed(names().sems, name, hostos::semDestroy); }

// The kernel side's queues that other processes reach are POSIX message
// queues underneath; the registry entry is this process's handle on them.
MSG_Q_ID msgQOpen(const char* name, int maxMsgs, int maxMsgLength, int options, int omFlags) {
    const std::string shared = name ? hostos::processQueuePosixName(name) : "";
    if (!shared.empty()) {
        // marked before it is made, so that no other start takes it for a dead device's
        if (omFlags & OM_CREATE) hostos::holdProcessQueueMark(shared);
        // without OM_CREATE a queue made by another process is opened too
        return openNamed(names().queues, name, OM_CREATE, [&] {
            return hostos::msgQCreateProcessShared(shared, maxMsgs, maxMsgLength, (omFlags & OM_CREATE) != 0);
        });
    }
    return openNamed(names().queues, name, omFlags, [&] { return msgQCreate(maxMsgs, maxMsgLength, options); });
}

STATUS msgQClose(MSG_Q_ID q) { return closeNamed(q, hostos::msgQDestroy); }

STATUS msgQUnlink(const char* name) {
    const std::string shared = name ? hostos::processQueuePosixName(name) : "";
    STATUS st = unlinkNamed(names().queues, name, hostos::msgQDestroy);
    if (!shared.empty() && hostos::unlinkProcessQueue(shared)) st = OK;
    return st;
}
