// Process-wide registry of named semaphores and message queues (semOpen,
// msgQOpen). A named object lives until it is unlinked and its last opener has
// closed it (or until it is deleted outright).
#include "host/os_internal.h"

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

}  // namespace

namespace hostos {

void namedForgetSem(SEM_ID sem) {
    Names& n = names();
    std::lock_guard<std::mutex> lk(n.mx);
    auto it = n.sems.find(sem->name);
    if (it != n.sems.end() && it->second == sem) n.sems.erase(it);
}

void namedForgetMsgQ(MSG_Q_ID q) {
    Names& n = names();
    std::lock_guard<std::mutex> lk(n.mx);
    auto it = n.queues.find(q->name);
    if (it != n.queues.end() && it->second == q) n.queues.erase(it);
}

}  // namespace hostos

SEM_ID semOpen(const char* name, SEM_TYPE type, int initial, int, int omFlags) {
    if (!name || !*name) return nullptr;
    Names& n = names();
    std::lock_guard<std::mutex> lk(n.mx);
    auto it = n.sems.find(name);
    if (it != n.sems.end()) {
        ++it->second->opens;
        return it->second;
    }
    if (!(omFlags & OM_CREATE)) return nullptr;
    SEM_ID s = hostos::semCreateTyped(type, initial);
    s->name = name;
    s->opens = 1;
    n.sems[name] = s;
    return s;
}

STATUS semClose(SEM_ID sem) {
    if (!sem) return ERROR;
    bool destroy = false;
    {
        Names& n = names();
        std::lock_guard<std::mutex> lk(n.mx);
        if (sem->opens <= 0) return ERROR;
        destroy = --sem->opens == 0 && sem->unlinked;
    }
    if (destroy) hostos::semDestroy(sem);
    return OK;
}

STATUS semUnlink(const char* name) {
    if (!name) return ERROR;
    SEM_ID destroy = nullptr;
    {
        Names& n = names();
        std::lock_guard<std::mutex> lk(n.mx);
        auto it = n.sems.find(name);
        if (it == n.sems.end()) return ERROR;
        SEM_ID s = it->second;
        n.sems.erase(it);
        s->unlinked = true;
        if (s->opens <= 0) destroy = s;
    }
    if (destroy) hostos::semDestroy(destroy);
    return OK;
}

MSG_Q_ID msgQOpen(const char* name, int maxMsgs, int maxMsgLength, int options, int omFlags) {
    if (!name || !*name) return nullptr;
    Names& n = names();
    std::lock_guard<std::mutex> lk(n.mx);
    auto it = n.queues.find(name);
    if (it != n.queues.end()) {
        ++it->second->opens;
        return it->second;
    }
    if (!(omFlags & OM_CREATE)) return nullptr;
    MSG_Q_ID q = msgQCreate(maxMsgs, maxMsgLength, options);
    if (!q) return nullptr;
    q->name = name;
    q->opens = 1;
    n.queues[name] = q;
    return q;
}

STATUS msgQClose(MSG_Q_ID q) {
    if (!q) return ERROR;
    bool destroy = false;
    {
        Names& n = names();
        std::lock_guard<std::mutex> lk(n.mx);
        if (q->opens <= 0) return ERROR;
        destroy = --q->opens == 0 && q->unlinked;
    }
    if (destroy) hostos::msgQDestroy(q);
    return OK;
}

STATUS msgQUnlink(const char* name) {
    if (!name) return ERROR;
    MSG_Q_ID destroy = nullptr;
    {
        Names& n = names();
        std::lock_guard<std::mutex> lk(n.mx);
        auto it = n.queues.find(name);
        if (it == n.queues.end()) return ERROR;
        MSG_Q_ID q = it->second;
        n.queues.erase(it);
        q->unlinked = true;
        if (q->opens <= 0) destroy = q;
    }
    if (destroy) hostos::msgQDestroy(destroy);
    return OK;
}
