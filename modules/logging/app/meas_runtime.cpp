#include "logging/app/meas_runtime.h"

meas_t meas[MEAS_COUNT];
TeleSlot tele[TELE_SLOTS];

MeasBlock* meas_app_measlist[MEAS_RASTER_CODES];
MeasBlock* meas_app_condlist[MEAS_COUNT];
MeasBlock* meas_app_blkcondlist[MEAS_COUNT];
ext_pidnode* ext_pidlist;

void meas_list_push(MeasBlock** head, MeasBlock* b) {
    b->prev = nullptr;
    b->next = *head;
    if (*head) (*head)->prev = b;
    *head = b;
}

void meas_list_unlink(MeasBlock** head, MeasBlock* b) {
    if (b->prev) b->prev->next = b->next;
    else if (*head == b) *head = b->next;
    else return;   // in no list
    if (b->next) b->next->prev = b->prev;
    b->prev = b->next = nullptr;
}
