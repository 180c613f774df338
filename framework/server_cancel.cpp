// The cancel objects live in a fixed array of atomic slots, so that the signal handler
// reads them without a lock or an allocation; a TServerCancel takes a free slot and gives
// it back. The handler only loads pointers and calls PQcancel.

#include "server_cancel.h"

#include "files.h"

#include <dlfcn.h>

#include <atomic>

namespace {

using CancelNow = int (*)(void*, char*, int);
using GetCancel = void* (*)(void*);
using FreeCancel = void (*)(void*);

constexpr int SlotCount = 4;
std::atomic<void*> Slots[SlotCount];
std::atomic<CancelNow> Cancel{nullptr};
std::atomic<FreeCancel> Free{nullptr};

void CancelStatements()
{
    const CancelNow now = Cancel.load();
    if (!now)
        return;
    for (std::atomic<void*>& slot : Slots)
        if (void* cancel = slot.load()) {
            char error[256];
            now(cancel, error, sizeof error);
        }
}

} // namespace

TServerCancel::TServerCancel(void* Conn)
{
    if (!Conn)
        return;
    void* lib = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        return;
    auto getCancel = reinterpret_cast<GetCancel>(::dlsym(lib, "PQgetCancel"));
    auto free = reinterpret_cast<FreeCancel>(::dlsym(lib, "PQfreeCancel"));
    auto now = reinterpret_cast<CancelNow>(::dlsym(lib, "PQcancel"));
    ::dlclose(lib); // whoever connected keeps it loaded
    if (!getCancel || !free || !now)
        return;
    void* cancel = getCancel(Conn);
    if (!cancel)
        return;
    Free.store(free);
    Cancel.store(now);
    for (int i = 0; i < SlotCount; ++i) {
        void* none = nullptr;
        if (Slots[i].compare_exchange_strong(none, cancel)) {
            FSlot = i;
            SetInterruptAction(CancelStatements);
            return;
        }
    }
    free(cancel);
}

TServerCancel::~TServerCancel()
{
    if (FSlot < 0)
        return;
    if (void* cancel = Slots[FSlot].exchange(nullptr))
        Free.load()(cancel);
}
