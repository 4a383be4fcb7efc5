// Where nodes, attributes and the longer texts of a parse live: the slabs, the
// free-slab cache, the library's operator new and delete, and the storage of
// VelkString.
#include "velkmemory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define VELK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_ASAN 1
#endif
#endif

#ifdef VELK_ASAN
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace TAVARO {

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------
//
// Nodes and attributes are placed front to back in slabs, each object after a
// header naming its slab. A slab counts the objects living in it and goes back
// to the heap when the last one is deleted, whichever thread deletes it. While
// an arena is still filling a slab, the count holds a large reserve instead of
// the objects placed so far, so deletes cannot bring it to zero; sealing the
// slab trades the reserve for the number placed, with one atomic step.
//
// Under AddressSanitizer the headers, a red zone after each object, the unused
// rest of a slab and the slot of every deleted object are poisoned, so that an
// overflow into a neighbour and a use after delete are reported as they are
// for objects allocated one by one.

namespace {

struct Slab {
    std::atomic<std::intptr_t> live;
    std::size_t size;  // bytes, this header included
};

struct SlotHeader {
    Slab* slab;
#ifdef VELK_ASAN
    std::size_t slotSize;  // header, object and red zone
#endif
};

#ifdef VELK_ASAN
constexpr std::size_t kRedZone = 16;
#else
constexpr std::size_t kRedZone = 0;
#endif

// Objects are placed on multiples of a pointer's alignment, which is all that
// nodes and attributes need.
constexpr std::size_t kGrain = alignof(void*);
constexpr std::size_t kFirstSlabSize = 1024;
constexpr std::size_t kLargestSlabSize = 65536;
constexpr std::intptr_t kReserve = std::numeric_limits<std::intptr_t>::max() / 2;

static_assert(sizeof(Slab) % kGrain == 0 && sizeof(SlotHeader) % kGrain == 0,
              "objects after the headers stay aligned");
static_assert(alignof(VelkElement) <= kGrain && alignof(VelkAttribute) <= kGrain &&
                  alignof(VelkDocument) <= kGrain && alignof(VelkDeclaration) <= kGrain,
              "slots are aligned enough for every class placed in them");

using Arena = VelkAccess::Arena;

std::size_t RoundUp(std::size_t n) {
    return (n + kGrain - 1) & ~(kGrain - 1);
}

// Free slabs of the largest size, kept for the next ones up to kSpareBytes (64
// MB) in the process: a program that parses one document after another would
// otherwise hand the pages back to the system and fault them in again each
// time, which costs as much as a fifth of a parse. Never destroyed, as thread
// arenas may give slabs back during exit.
// Under AddressSanitizer none is kept, so that its leak check sees them all.
class SpareSlabs {
public:
    static SpareSlabs& Get() {
        alignas(SpareSlabs) static unsigned char storage[sizeof(SpareSlabs)];
        static SpareSlabs* const spares = ::new (storage) SpareSlabs();
        return *spares;
    }

    // A kept slab's memory, or null when none is kept.
    void* Take() {
        std::lock_guard<std::mutex> hold(mutex);
        Link* link = top;
        if (!link) return nullptr;
        ASAN_UNPOISON_MEMORY_REGION(link, sizeof(Link));
        top = link->next;
        --count;
        return link;
    }

    // Keeps a free slab's memory; false when enough are kept already.
    bool Keep(void* memory) {
        std::lock_guard<std::mutex> hold(mutex);
        if (count == kSpareBytes / kLargestSlabSize) return false;
        top = ::new (memory) Link{top};
        ++count;
        ASAN_POISON_MEMORY_REGION(memory, kLargestSlabSize);
        return true;
    }

private:
#ifdef VELK_ASAN
    static constexpr std::size_t kSpareBytes = 0;
#else
    static constexpr std::size_t kSpareBytes = std::size_t{64} << 20;
#endif
    struct Link {
        Link* next;
    };

    std::mutex mutex;
    Link* top = nullptr;
    std::size_t count = 0;
};

// Takes count off the slab's count; whoever takes it to zero frees the slab.
void Drop(Slab* slab, std::intptr_t count) {
    if (slab->live.fetch_sub(count, std::memory_order_acq_rel) != count) return;
    ASAN_UNPOISON_MEMORY_REGION(slab, slab->size);
    const std::size_t size = slab->size;
    slab->~Slab();
    if (size == kLargestSlabSize && SpareSlabs::Get().Keep(slab)) return;
    ::operator delete(slab);
}

// Leaves the slab being filled to the objects living in it.
void Seal(Arena& arena) {
    Slab* slab = static_cast<Slab*>(arena.slab);
    if (!slab) return;
    const std::intptr_t placed = static_cast<std::intptr_t>(arena.placed);
    arena = Arena{nullptr, nullptr, nullptr, 0, arena.nextSize};
    Drop(slab, kReserve - placed);
}

// Seals the slab being filled and starts one with room for a slot of slotSize
// bytes; false when no memory is left. Slabs double up to the largest size.
bool Refill(Arena& arena, std::size_t slotSize) {
    Seal(arena);
    const std::size_t size =
        std::max(std::max(arena.nextSize, kFirstSlabSize), sizeof(Slab) + slotSize);
    void* memory = size == kLargestSlabSize ? SpareSlabs::Get().Take() : nullptr;
    if (!memory) memory = ::operator new(size, std::nothrow);
    if (!memory) return false;
    Slab* slab = ::new (memory) Slab{{kReserve}, size};
    char* const start = static_cast<char*>(memory);
    arena =
        Arena{slab, start + sizeof(Slab), start + size, 0, std::min(2 * size, kLargestSlabSize)};
    ASAN_POISON_MEMORY_REGION(arena.next, size - sizeof(Slab));
    return true;
}

void* Place(Arena& arena, std::size_t size) {
    const std::size_t slotSize = sizeof(SlotHeader) + RoundUp(size) + kRedZone;
    if (static_cast<std::size_t>(arena.end - arena.next) < slotSize && !Refill(arena, slotSize))
        return nullptr;
    SlotHeader* header = reinterpret_cast<SlotHeader*>(arena.next);
    arena.next += slotSize;
    ++arena.placed;
    ASAN_UNPOISON_MEMORY_REGION(header, sizeof(SlotHeader) + size);
    header->slab = static_cast<Slab*>(arena.slab);
#ifdef VELK_ASAN
    header->slotSize = slotSize;
#endif
    ASAN_POISON_MEMORY_REGION(header, sizeof(SlotHeader));
    return header + 1;
}

// The slab of an object whose destructor has run, its slot given up (and
// poisoned under AddressSanitizer); the caller drops it from the slab's count.
Slab* Vacate(void* item) {
    SlotHeader* header = static_cast<SlotHeader*>(item) - 1;
#ifdef VELK_ASAN
    // An object deleted twice is poisoned already: this read reports it.
    static_cast<void>(*static_cast<volatile const char*>(item));
#endif
    ASAN_UNPOISON_MEMORY_REGION(header, sizeof(SlotHeader));
    Slab* const slab = header->slab;
#ifdef VELK_ASAN
    ASAN_POISON_MEMORY_REGION(header, header->slotSize);
#endif
    return slab;
}

void ReleaseSlot(void* item) {
    if (item) Drop(Vacate(item), 1);
}

// The arena of the objects made with new: one per thread, sealed when the
// thread ends.
struct ThreadArena {
    Arena arena{};
    ~ThreadArena() { Seal(arena); }
};

Arena& CallerArena() {
    thread_local ThreadArena own;
    return own.arena;
}

}  // namespace

void SlotBatch::Add(void* item) {
    Slab* const of = Vacate(item);
    if (of != slab) {
        Flush();
        slab = of;
    }
    ++count;
}

void SlotBatch::Flush() {
    if (count) Drop(static_cast<Slab*>(slab), count);
    count = 0;
}

void Seal(VelkDocument& document) {
    Seal(VelkAccess::Memory(document));
}

void* Place(VelkDocument* document, std::size_t size) {
    return Place(document ? VelkAccess::Memory(*document) : CallerArena(), size);
}

void* VelkBase::operator new(std::size_t size) noexcept {
    return Place(CallerArena(), size);
}

void* VelkBase::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Place(CallerArena(), size);
}

void VelkBase::operator delete(void* item) noexcept {
    ReleaseSlot(item);
}

void VelkBase::operator delete(void* item, const std::nothrow_t&) noexcept {
    ReleaseSlot(item);
}

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

static_assert(sizeof(VelkString) == 16 && sizeof(char*) <= 8,
              "a pointer and a seven-byte length fit in a string");

VelkString::VelkString(const VelkString& other) {
    Clear();
    Assign(other.c_str(), other.size());
}

VelkString& VelkString::operator=(const VelkString& other) {
    if (this != &other) Assign(other.c_str(), other.size());
    return *this;
}

// Copies n bytes (at most 15) in with two loads and two stores at most,
// reading all before writing, so that p may lie in the string itself.
void VelkString::PutInside(const char* p, std::size_t n) {
    if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, p, 8);
        std::memcpy(&tail, p + n - 8, 8);
        std::memcpy(bytes, &head, 8);
        std::memcpy(bytes + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + n - 4, 4);
        std::memcpy(bytes, &head, 4);
        std::memcpy(bytes + n - 4, &tail, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) bytes[i] = p[i];
    }
    bytes[n] = 0;
    bytes[kInside] = static_cast<char>(kInside - n);
}

bool VelkString::Assign(const char* p, std::size_t n) {
    // Text kept elsewhere is handed to old, which frees it once p has been read.
    VelkString old;
    if (!Inside()) std::memcpy(old.bytes, bytes, sizeof bytes);
    if (n <= kInside) {
        PutInside(p, n);
        return true;
    }
    char* data = new (std::nothrow) char[n + 1];
    if (!data) {
        Clear();
        return false;
    }
    std::memcpy(data, p, n);
    data[n] = 0;
    SetOutside(data, n, kOnHeap);
    return true;
}

void VelkString::Adopt(char* slot, std::size_t n) {
    if (!Inside()) Release();
    SetOutside(slot, n, kInSlot);
}

void VelkString::SetOutside(const char* data, std::size_t n, unsigned char mode) {
    std::memcpy(bytes, &data, sizeof data);
    const std::uint64_t length = n;
    const std::uint64_t word =
        LittleEndian() ? length | std::uint64_t{mode} << 56 : length << 8 | mode;
    std::memcpy(bytes + 8, &word, sizeof word);
}

void VelkString::Release() {
    char* data = const_cast<char*>(OutsideData());
    if (Mode() == kInSlot) {
        ReleaseSlot(data);
    } else {
        delete[] data;
    }
}

bool Keep(VelkDocument* document, VelkString* s, const char* p, std::size_t n) {
    if (n < sizeof(VelkString)) return s->Assign(p, n);  // fits inside: nothing allocated
    char* slot = static_cast<char*>(Place(document, n + 1));
    if (!slot) return false;
    std::memcpy(slot, p, n);
    slot[n] = 0;
    VelkAccess::Adopt(*s, slot, n);
    return true;
}

}  // namespace TAVARO
