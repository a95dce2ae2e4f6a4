// The compiled form of the CAN input configuration (built by CanIn_init).
#pragma once

#include <cstdint>

// One data byte of a signal: accumulator byte [dst] = data[src] & mask. The
// last command of a signal carries its channel + 1 and the final right shift.
struct CanInCmd {
    CanInCmd* next;     // null ends the list
    uint16_t outCh;     // 0: more bytes follow; else channel index + 1
    uint8_t mask;
    uint8_t src;
    uint8_t dst;
    uint8_t shift;
};

// The signals of one row value of a multiplexed message (AVL node).
struct CanInRow {
    CanInRow* left;
    CanInRow* right;
    CanInRow* parent;
    uint32_t value;
    int8_t balance;
    CanInCmd* list;
};

// One received message; its address is the receive callback's user word.
struct CanInMsg {
    CanInRow* root;
    CanInCmd* plain;
    CanInCmd* rc;       // row counter
    uint16_t mbIdx;
};

// Inserts a node whose value is greater than every value in the tree.
void AVLinsert(CanInRow** root, CanInRow* node);

// The compiled messages in mailbox order (benchmarks, tests); null before CanIn_init.
CanInMsg* CanIn_compiledMessages(unsigned* count);
