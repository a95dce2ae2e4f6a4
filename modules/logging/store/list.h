// Singly linked action list with reader iterators.
//
// The list is changed only under its own lock. Readers step their iterators
// without it: a node's successor is published when a node is appended, and
// nodes are taken off the head only once every reader has passed them (the
// back end sees to that). Node positions are absolute: the head's position is
// the number of nodes ever taken off the head (the cut count).
#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "logging/store/lock.h"
#include "platform/syslogx.h"

namespace measure::store {

template <class T> class List;

template <class T> struct Node {
    Node(T* it, uint32_t sz) : size(sz), item(it) {}
    virtual ~Node() { delete item; }
    std::atomic<Node*> next{nullptr};
    uint32_t size;      // the item's size() + 16
    T* item;            // owned
};

template <class T> class Iterator {
public:
    virtual ~Iterator();
    // The next item, or null when there is none yet or the iterator is invalid.
    T* step() {
        if (!valid_.load()) return nullptr;
        Node<T>* cur = current_.load(std::memory_order_relaxed);
        Node<T>* n = cur ? cur->next.load(std::memory_order_acquire) : list_->headNode();
        if (!n) return nullptr;
        if (cur) position_.fetch_add(1);
        current_.store(n, std::memory_order_relaxed);
        return n->item;
    }
    // Position of the node read last (of the node to be read first before any read).
    uint32_t position() const { return position_.load(); }
    bool valid() const { return valid_.load(); }
    bool hasCurrent() const { return current_.load(std::memory_order_relaxed) != nullptr; }

private:
    friend class List<T>;
    Iterator(List<T>* list, Node<T>* current, uint32_t position)
        : list_(list), current_(current), position_(position) {}
    std::atomic<bool> valid_{true};
    List<T>* list_;
    std::atomic<Node<T>*> current_;
    std::atomic<uint32_t> position_;
};

template <class T> class List : public Lock {
public:
    static constexpr unsigned kMaxIterators = 16;
    static constexpr uint32_t kNodeOverhead = 16;

    explicit List(bool inversionSafe = true) : Lock(inversionSafe) {}
    ~List() override { clear(); }

    // Appends item (owned from now on) accounted with size bytes; 1, or 0 for
    // a null item or when no node can be made.
    int add(T* item, uint32_t size) {
        if (!item) return 0;
        auto* n = new (std::nothrow) Node<T>(item, size + kNodeOverhead);
        if (!n) {
            syslogx(147, "List<T>::add() failed to create new node.");
            return 0;
        }
        ScopeLock sl(this, "List::add");
        link(n, n, 1, n->size);
        return 1;
    }
    // Takes the head node off; the caller owns node and item.
    Node<T>* del() {
        ScopeLock sl(this, "List::del");
        Node<T>* n = head_.load();
        if (!n) return nullptr;
        head_.store(n->next.load());
        if (tail_ == n) tail_ = nullptr;
        n->next.store(nullptr);
        count_.fetch_sub(1);
        cut_.fetch_add(1);
        total_.fetch_sub(n->size);
        return n;
    }
    // Moves every node of src to the end of this list; src stays empty.
    void appendAndClearSrc(List& src) {
        ScopeLock ss(&src, "List::concat(src)");
        ScopeLock sd(this, "List::concat(dst)");
        Node<T>* first = src.head_.load();
        if (!first) return;
        link(first, src.tail_, src.count_.load(), src.total_.load());
        src.head_.store(nullptr);
        src.tail_ = nullptr;
        src.count_.store(0);
        src.total_.store(0);
    }
    // A new list holding the first n nodes of this one (all when n reaches the
    // count); null (logged) when the chain is broken.
    List* removeSublist(uint32_t n) {
        auto* out = new (std::nothrow) List(true);
        if (!out) return nullptr;
        ScopeLock sl(this, "List::removeSublist");
        if (n == 0 || !head_.load()) return out;
        if (n >= count_.load()) n = count_.load();
        Node<T>* first = head_.load();
        Node<T>* last = first;
        uint32_t bytes = first->size;
        for (uint32_t i = 1; i < n; ++i) {
            Node<T>* nx = last->next.load();
            if (!nx) {
                syslogx(147, "List::removeSublist(%u) had unexpected NULL ptr (0x%08X / 0x%08X)", n, 0u, 0u);
                delete out;
                return nullptr;
            }
            last = nx;
            bytes += last->size;
        }
        head_.store(last->next.load());
        if (!head_.load()) tail_ = nullptr;
        last->next.store(nullptr);
        count_.fetch_sub(n);
        cut_.fetch_add(n);
        total_.fetch_sub(bytes);
        out->link(first, last, n, bytes);
        return out;
    }
    // Deletes every node with its item.
    void clear() {
        ScopeLock sl(this, "List::clear()");
        if (iterCount_ != 0)
            syslogx(147, "List::~List(): Iterator count is not equal to zero, dangling references to this "
                         "deleted list will persist!");
        Node<T>* n = head_.load();
        while (n) {
            Node<T>* nx = n->next.load();
            delete n;
            n = nx;
        }
        cut_.fetch_add(count_.load());
        head_.store(nullptr);
        tail_ = nullptr;
        count_.store(0);
        total_.store(0);
    }
    // A reader at the head (before the first node) or at the tail (the next
    // node appended is its first); null (logged) when 16 exist already.
    Iterator<T>* createIterator(const char* name, bool atTail) {
        ScopeLock sl(this, name);
        if (iterCount_ >= kMaxIterators) {
            syslogx(147, "%s(): Already assigned the maximum number of iterators! %u", name, iterCount_);
            return nullptr;
        }
        Iterator<T>* it;
        if (atTail && tail_)
            it = new Iterator<T>(this, tail_, cut_.load() + count_.load() - 1);
        else if (atTail)
            it = new Iterator<T>(this, nullptr, cut_.load());
        else
            it = new Iterator<T>(this, nullptr, cut_.load());
        iters_[iterCount_++] = it;
        return it;
    }
    // Invalidates the iterator and takes it out of the table (it is not deleted).
    void removeIterator(Iterator<T>* it) {
        ScopeLock sl(this, "List::removeIterator");
        it->valid_.store(false);
        for (unsigned i = 0; i < iterCount_; ++i)
            if (iters_[i] == it) {
                iters_[i] = iters_[--iterCount_];
                iters_[iterCount_] = nullptr;
                break;
            }
    }

    uint32_t count() const { return count_.load(); }
    uint32_t cutCount() const { return cut_.load(); }
    uint32_t totalSize() const { return total_.load(); }
    uint32_t highestCount() const { return highCount_.load(); }
    uint32_t highestTotal() const { return highTotal_.load(); }
    unsigned iteratorCount() const { return iterCount_; }
    Node<T>* headNode() const { return head_.load(std::memory_order_acquire); }
    // Position of the last node (the cut count for an empty list).
    uint32_t lastPosition() const {
        uint32_t c = count_.load();
        return cut_.load() + (c ? c - 1 : 0);
    }

private:
    // Appends the chain first..last (caller holds the lock).
    void link(Node<T>* first, Node<T>* last, uint32_t n, uint32_t bytes) {
        if (tail_)
            tail_->next.store(first, std::memory_order_release);
        else
            head_.store(first, std::memory_order_release);
        tail_ = last;
        uint32_t c = count_.fetch_add(n) + n;
        uint32_t t = total_.fetch_add(bytes) + bytes;
        if (c > highCount_.load()) highCount_.store(c);
        if (t > highTotal_.load()) highTotal_.store(t);
    }

    std::atomic<Node<T>*> head_{nullptr};
    Node<T>* tail_ = nullptr;
    std::atomic<uint32_t> count_{0};
    std::atomic<uint32_t> highCount_{0};
    std::atomic<uint32_t> cut_{0};
    std::atomic<uint32_t> total_{0};
    std::atomic<uint32_t> highTotal_{0};
    unsigned iterCount_ = 0;
    Iterator<T>* iters_[kMaxIterators] = {};
};

template <class T> Iterator<T>::~Iterator() {
    if (valid_.load()) list_->removeIterator(this);
}

}  // namespace measure::store
