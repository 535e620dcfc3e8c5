#include "quarn/system/charinput.h"

#include <cstring>

void ClearCharRing(CharInputRing* ring) { std::memset(ring, 0, sizeof(*ring)); }

int CharRingHasRoom(const CharInputRing* ring)
{
    const int32_t next = ring->write + 1 == kCharRingSlots ? 0 : ring->write + 1;
    return next != ring->read ? 1 : 0;
}

int PushCharRing(CharInputRing* ring, uint16_t unit)
{
    if (!CharRingHasRoom(ring)) {
        return -1;
    }
    ring->units[ring->write] = unit;
    ring->write = ring->write + 1 == kCharRingSlots ? 0 : ring->write + 1;
    return 0;
}

namespace {
int32_t NextSlot(int32_t position) { return position + 1 == kCharRingSlots ? 0 : position + 1; }
}  // namespace

int TakeCharRing(CharInputRing* ring, uint16_t out[2], int take)
{
    out[0] = 0;
    out[1] = 0;
    if (ring->read == ring->write) {
        return 0;
    }
    int32_t position = ring->read;
    const uint16_t first = ring->units[position];
    position = NextSlot(position);
    int count = 1;
    if (!IsControlCode(first) && first >= 0xD800 && first <= 0xDBFF) {
        if (position == ring->write) {
            return 0;  // the pair is not complete yet
        }
        out[1] = ring->units[position];
        position = NextSlot(position);
        count = 2;
    }
    out[0] = first;
    if (take) {
        ring->read = position;
    }
    return count;
}

CharInputRing g_charInput;

CharInputRing* LibraryCharRing() { return &g_charInput; }

int PushCharInput(uint16_t unit) { return PushCharRing(&g_charInput, unit); }

int TakeCharInput(uint16_t out[2], int take) { return TakeCharRing(&g_charInput, out, take); }

int32_t PopCharInputUnit()
{
    if (g_charInput.read == g_charInput.write) {
        return -1;
    }
    const uint16_t unit = g_charInput.units[g_charInput.read];
    g_charInput.read = NextSlot(g_charInput.read);
    return unit;
}

static const struct {
    int virtualKey;
    uint16_t code;
} kKeyToControl[] = {
    {0x2E, kCtrlDelete}, {0x25, kCtrlLeft}, {0x27, kCtrlRight},  {0x26, kCtrlUp},       {0x28, kCtrlDown},
    {0x24, kCtrlHome},   {0x23, kCtrlEnd},  {0x21, kCtrlPageUp}, {0x22, kCtrlPageDown},
};

int CharInputHasRoom() { return CharRingHasRoom(&g_charInput); }

int32_t CharInputUnitOfCode(uint32_t code)
{
    if (code == 10) {
        return 13;
    }
    if (code >= 32) {
        return code <= 0xFFFF ? static_cast<int32_t>(code) : -1;
    }
    switch (code) {
    case 1:
    case 3:
    case 8:
    case 9:
    case 13:
    case 16:
    case 22:
    case 24:
    case 27: return static_cast<int32_t>(code);
    default: return -1;
    }
}

int32_t ControlCodeOfKey(int32_t virtualKey)
{
    for (const auto& pair : kKeyToControl) {
        if (pair.virtualKey == virtualKey) {
            return pair.code;
        }
    }
    return 0;
}

int IsControlCode(uint16_t unit)
{
    for (const auto& pair : kKeyToControl) {
        if (pair.code == unit) {
            return 1;
        }
    }
    return 0;
}

namespace {
bool IsHigh(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

bool IsLow(uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

int CountCharacters(const uint16_t* text, int units)
{
    int characters = 0;
    for (int i = 0; i < units && text[i] != 0; ++i) {
        if (IsHigh(text[i]) && i + 1 < units && IsLow(text[i + 1])) {
            ++i;
        }
        ++characters;
    }
    return characters;
}

namespace {
// Units of the character that starts at position (2 for a surrogate pair).
int CharacterUnitsAt(const KeyInputRecord* record, int32_t position)
{
    if (position + 1 < record->length && IsHigh(record->text[position]) && IsLow(record->text[position + 1])) {
        return 2;
    }
    return 1;
}

// Units of the character that ends at position.
int CharacterUnitsBefore(const KeyInputRecord* record, int32_t position)
{
    if (position >= 2 && IsLow(record->text[position - 1]) && IsHigh(record->text[position - 2])) {
        return 2;
    }
    return 1;
}

void RemoveUnits(KeyInputRecord* record, int32_t from, int32_t count)
{
    std::memmove(record->text + from, record->text + from + count,
                 sizeof(uint16_t) * static_cast<size_t>(record->length - from - count));
    record->length -= count;
    record->text[record->length] = 0;
}

void EndSelection(KeyInputRecord* record)
{
    record->selectionStart = -1;
    record->selectionEnd = -1;
}
}  // namespace

int32_t SelectedRange(const KeyInputRecord* record, int32_t* from, int32_t* to)
{
    int32_t a = record->selectionStart;
    int32_t b = record->selectionEnd;
    if (a < 0 || b < 0) {
        a = 0;
        b = 0;
    } else if (a > b) {
        const int32_t swap = a;
        a = b;
        b = swap;
    }
    a = a > record->length ? record->length : a;
    b = b > record->length ? record->length : b;
    *from = a;
    *to = b;
    return b - a;
}

namespace {
bool HasSelection(const KeyInputRecord* record)
{
    int32_t from = 0;
    int32_t to = 0;
    return SelectedRange(record, &from, &to) > 0;
}
}  // namespace

int DeleteSelectedText(KeyInputRecord* record)
{
    int32_t from = 0;
    int32_t to = 0;
    if (SelectedRange(record, &from, &to) > 0) {
        RemoveUnits(record, from, to - from);
    }
    EndSelection(record);
    if (record->cursor > record->length) {
        record->cursor = record->length;
    }
    return 0;
}

int InsertKeyInputText(KeyInputRecord* record, const uint16_t* units, int count)
{
    if (count <= 0) {
        return -1;
    }
    int32_t from = 0;
    int32_t to = 0;
    const int32_t selected = SelectedRange(record, &from, &to);
    if (record->length - selected + count > record->maxLength) {
        return -1;
    }
    if (selected > 0) {
        DeleteSelectedText(record);
        record->cursor = from;
    }
    EndSelection(record);
    const int32_t at = record->cursor;
    std::memmove(record->text + at + count, record->text + at,
                 sizeof(uint16_t) * static_cast<size_t>(record->length - at));
    std::memcpy(record->text + at, units, sizeof(uint16_t) * static_cast<size_t>(count));
    record->length += count;
    record->text[record->length] = 0;
    record->cursor += count;
    return 0;
}

namespace {
// Deletes the selection, or the character on the given side of the cursor.
void DeleteAtCursor(KeyInputRecord* record, bool before)
{
    int32_t from = 0;
    int32_t to = 0;
    if (SelectedRange(record, &from, &to) > 0) {
        DeleteSelectedText(record);
        record->cursor = from;
        return;
    }
    EndSelection(record);
    if (before && record->cursor > 0) {
        const int units = CharacterUnitsBefore(record, record->cursor);
        record->cursor -= units;
        RemoveUnits(record, record->cursor, units);
    } else if (!before && record->cursor < record->length) {
        RemoveUnits(record, record->cursor, CharacterUnitsAt(record, record->cursor));
    }
}
}  // namespace

KeyInputRequest ApplyKeyInputControl(KeyInputRecord* record, uint16_t code)
{
    switch (code) {
    case kCtrlLeft:
        EndSelection(record);
        if (record->cursor > 0) {
            record->cursor -= CharacterUnitsBefore(record, record->cursor);
        }
        break;
    case kCtrlRight:
        EndSelection(record);
        if (record->cursor < record->length) {
            record->cursor += CharacterUnitsAt(record, record->cursor);
        }
        break;
    case kCtrlHome:
        EndSelection(record);
        record->cursor = 0;
        break;
    case kCtrlEnd:
        EndSelection(record);
        record->cursor = record->length;
        break;
    case kCtrlDelete: DeleteAtCursor(record, false); break;
    case kCtrlBackspace: DeleteAtCursor(record, true); break;
    case kCtrlSelectAll:
        record->selectionStart = 0;
        record->selectionEnd = record->length;
        record->cursor = record->length;
        break;
    case kCtrlEnter: record->end = kKeyInputEntered; break;
    case kCtrlEscape:
        if (record->cancelAllowed) {
            record->end = kKeyInputCancelled;
        }
        break;
    case kCtrlCopy: return HasSelection(record) ? kKeyInputCopyRequest : kKeyInputNoRequest;
    case kCtrlCut: return HasSelection(record) ? kKeyInputCutRequest : kKeyInputNoRequest;
    case kCtrlPaste: return kKeyInputPasteRequest;
    default: break;  // Tab, Up, Down, Page Up and Page Down do nothing on one line
    }
    return kKeyInputNoRequest;
}
