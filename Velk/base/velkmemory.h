// Private to the library's source units: how nodes, attributes and the
// longer texts of a parse are placed in memory and given back. Not installed.
#ifndef VELK_BASE_VELKMEMORY_H
#define VELK_BASE_VELKMEMORY_H

#include "velkintern.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace TAVARO {

// Room for an object of size bytes in document's slabs, or in the calling
// thread's when document is null; null when memory runs out (velk.cpp).
void* Place(VelkDocument* document, std::size_t size);

// Stores the n bytes at p (and a NUL) in s: inside it when they fit, else in
// document's slabs as Place chooses them; false when memory runs out.
bool Keep(VelkDocument* document, VelkString* s, const char* p, std::size_t n);

// A new T made from args in document's memory, as Place chooses it; null when
// memory runs out. Deleted as any node or attribute is.
template <class T, class... Args>
T* Create(VelkDocument* document, const Args&... args) {
    void* place = Place(document, sizeof(T));
    return place ? ::new (place) T(args...) : nullptr;
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

    void Add(void* item);

private:
    void Flush();

    void* slab = nullptr;
    std::intptr_t count = 0;
};

// Leaves the slab that document's parses are filling to the objects in it.
void Seal(VelkDocument& document);

}  // namespace TAVARO

#endif  // VELK_BASE_VELKMEMORY_H
