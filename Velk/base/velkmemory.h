// Private to the library's source units: how nodes, attributes and the
// longer texts of a parse are placed in memory and given back. Not installed.
#ifndef VELK_BASE_VELKMEMORY_H
#define VELK_BASE_VELKMEMORY_H

#include "velkintern.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace TAVARO {

// Room for an object of size bytes at alignof(std::max_align_t) in the slab
// that document's parses fill; null when memory runs out.
void* Place(VelkDocument& document, std::size_t size);

// Stores the n bytes at p (and a NUL) in s: inside it when they fit, else in
// document's slabs, or on the heap when document is null; false when memory
// runs out.
bool Keep(VelkDocument* document, VelkString* s, const char* p, std::size_t n);

// A new T made from args for a parse: in document's slabs, or on the heap
// when document is null; null when memory runs out. Deleted as any node or
// attribute is.
template <class T, class... Args>
T* Create(VelkDocument* document, const Args&... args) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "slots are aligned enough for T");
    if (!document) return new (std::nothrow) T(args...);
    void* place = Place(*document, sizeof(T));
    if (!place) return nullptr;
    T* item = ::new (place) T(args...);
    VelkAccess::InSlab(*item) = true;
    return item;
}

// Gives up the slots of objects whose destructors have run, taking each run
// of slots from one slab off its count in one step: a tree is freed in the
// order it was placed, so most runs are long.
class SlotBatch {
public:
    SlotBatch() = default;
    SlotBatch(const SlotBatch&) = delete;
    SlotBatch& operator=(const SlotBatch&) = delete;
    ~SlotBatch() { Flush(); }

    // Gives up item's slot, or its heap block at once.
    void Add(void* item);

private:
    void Flush();

    void* slab = nullptr;
    std::intptr_t count = 0;
};

// Leaves the slab that document's parses are filling to the objects in it.
void Seal(VelkDocument& document);

// Whether item lies on the calling thread's stack, where no tree can own it
// (false where the platform cannot tell).
bool OnCallersStack(const void* item);

}  // namespace TAVARO

#endif  // VELK_BASE_VELKMEMORY_H
