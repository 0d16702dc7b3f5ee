// The process-wide list of child records, shared by both platforms' runners. Its lock is the
// runner's only lock: it is held just around linking and unlinking a record.
#include <mutex>
#include <new>

#include "support/child_record.h"

namespace {

std::mutex childListLock;
ChildRecord* childList = nullptr;

}  // namespace

ChildRecord* LinkNewChildRecord() {
    std::lock_guard<std::mutex> guard(childListLock);
    auto* record = new (std::nothrow) ChildRecord;
    if (record != nullptr) {
        record->next = childList;
        childList = record;
    }
    return record;
}

void UnlinkChildRecord(ChildRecord* record) {
    std::lock_guard<std::mutex> guard(childListLock);
    for (ChildRecord** link = &childList; *link != nullptr; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            return;
        }
    }
}
