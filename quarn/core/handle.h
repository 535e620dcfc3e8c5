// Handles and the fixed per-type tables behind them.
//
// A handle is a signed 32-bit word: bit 31 clear for a valid handle, bits 27-30 the object
// type, bits 16-26 a check number, bits 0-15 the slot in the type's table. Every object type
// of the library keeps one HandleTable; this file is the one piece of code that hands out,
// validates and takes back slots. It only keeps books: the owner of a type allocates its
// record before adding it and frees it, once, after removing it.
#pragma once

#include <cstdint>

enum HandleType : int32_t {
    kHandleTypeGraph = 1,
    kHandleTypeSound = 2,
    kHandleTypeMovie = 3,
    kHandleTypeFont = 4,
    kHandleTypeMask = 5,
    kHandleTypeNetwork = 6,
    kHandleTypeKeyInput = 7,
    kHandleTypeMidi = 8,
    kHandleTypeLight = 9,
    kHandleTypeModelInstance = 10,
    kHandleTypeHeldImage = 11,
    kHandleTypeShader = 12,
    kHandleTypeSoftSoundBuffer = 13,
};

constexpr int32_t kHandleTypeBits = 0x78000000;
constexpr int32_t kHandleCheckBits = 0x07FF0000;
constexpr int32_t kHandleSlotBits = 0x0000FFFF;
constexpr int32_t kHandleCheckLimit = 2048;  // check numbers run 0..2047, then wrap

// How a new record finds its slot.
enum HandleSlotRule : int32_t {
    // The high-water slot while it is below the end of the table, else the first free slot.
    kSlotHighWaterFirst = 0,
    // Always the first free slot from 0.
    kSlotFirstFree = 1,
};

struct HandleSlot {
    void* record;   // null while the slot is free
    int32_t check;  // the check number the record was given
};

struct HandleTable {
    HandleSlot* slots;
    int32_t capacity;     // slots a handle may name
    int32_t createLimit;  // slots a creation may take (below capacity for reserved slots)
    int32_t type;
    HandleSlotRule rule;
    int32_t liveCount;
    int32_t highWater;  // one past the highest slot in use; 0 when empty
    int32_t nextCheck;  // never reset while the process runs
};

// A table with its own slot storage; zero at process start when declared static.
template <int32_t Capacity>
struct FixedHandleTable {
    HandleSlot storage[Capacity];
    HandleTable table;

    constexpr FixedHandleTable(int32_t type, HandleSlotRule rule, int32_t createLimit = Capacity)
        : storage{}, table{storage, Capacity, createLimit, type, rule, 0, 0, 0}
    {
    }
    HandleTable* operator->() { return &table; }
    HandleTable* get() { return &table; }
};

// ((check | type << 11) << 16) | slot
constexpr int32_t MakeHandle(int32_t type, int32_t check, int32_t slot)
{
    return static_cast<int32_t>(((static_cast<uint32_t>(check) | (static_cast<uint32_t>(type) << 11)) << 16) |
                                static_cast<uint32_t>(slot));
}
constexpr int32_t HandleSlotOf(int32_t handle) { return handle & kHandleSlotBits; }
constexpr int32_t HandleCheckOf(int32_t handle) { return (handle & kHandleCheckBits) >> 16; }

// The record named by the handle, or null when the handle is negative, of another type,
// out of range, names a free slot or carries another check number.
void* FindHandleRecord(const HandleTable* table, int32_t handle);

template <typename Record>
Record* FindHandleRecordAs(const HandleTable* table, int32_t handle)
{
    return static_cast<Record*>(FindHandleRecord(table, handle));
}

// Puts the record into a slot chosen by the table's rule and returns its new handle, or -1
// when the table is full or the record is null (nothing changes then).
int32_t AddHandleRecord(HandleTable* table, void* record);

// As AddHandleRecord, with the slot and check number imposed by the caller (each -1 for the
// table's own choice), so that a re-created object keeps its handle. -1 without change for a
// slot outside the creatable range or in use, or a check number outside 0..2047. An imposed
// check number leaves the table's sequence where it is.
int32_t AddHandleRecordAt(HandleTable* table, void* record, int32_t slot, int32_t check);

// Takes the record out of its slot and returns it for the owner to free; null (and no
// change) when the handle does not validate.
void* RemoveHandleRecord(HandleTable* table, int32_t handle);

// The handle of the record in the slot, or -1 for a free or out-of-range slot.
int32_t HandleOfSlot(const HandleTable* table, int32_t slot);
