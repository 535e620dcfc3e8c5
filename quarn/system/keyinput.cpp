// Character input's start and the key-input handles: one-line editors that take the
// character ring once per pump call.
#include "quarn/system/system.h"

#include "quarn/core/core.h"
#include "quarn/core/handle.h"
#include "quarn/quarn.h"

#include <cstring>

static FixedHandleTable<kKeyInputSlots> s_keyInputTable(kHandleTypeKeyInput, kSlotFirstFree);
static int32_t s_activeKeyInput = -1;

struct CursorBlink {
    uint32_t start;
    uint32_t period;
    int32_t visible;
};
static CursorBlink s_blink;

// The colours key input is drawn in (text, cursor, selection, IME composition and candidate
// states): nothing in this build draws key input, but they are kept in the screen's form.
struct Rgb {
    uint8_t red, green, blue;
};
static constexpr Rgb kKeyInputRgb[kKeyInputColours] = {
    {255, 255, 255}, {255, 255, 0},  {255, 255, 255}, {0, 255, 255}, {255, 255, 255},
    {255, 0, 0},     {255, 255, 20}, {0, 0, 0},       {0, 0, 0},     {0, 0, 0},
    {255, 255, 0},   {0, 0, 0},      {255, 255, 255}, {0, 0, 0},     {128, 128, 128},
};
static uint32_t s_keyInputColours[kKeyInputColours];

namespace {
uint32_t PackRgbWord(int red, int green, int blue)
{
    return static_cast<uint32_t>(red) << 16 | static_cast<uint32_t>(green) << 8 | static_cast<uint32_t>(blue);
}
}  // namespace

uint32_t GetKeyInputColour(int32_t index)
{
    return index >= 0 && index < kKeyInputColours ? s_keyInputColours[index] : 0;
}

namespace {
void FreeKeyInput(KeyInputRecord* record)
{
    FreeTrackedMemory(record->text);
    FreeTrackedMemory(record);
}
}  // namespace

int32_t StartCharInput(uint32_t (*pack)(int red, int green, int blue))
{
    AppendLog(L"文字コードバッファの初期化を行います... ");
    ClearCharRing(LibraryCharRing());
    FreeTrackedMemory(g_ime.candidates);
    std::memset(&g_ime, 0, sizeof(g_ime));
    for (int32_t slot = 0; slot < kKeyInputSlots; ++slot) {
        const int32_t handle = HandleOfSlot(s_keyInputTable.get(), slot);
        if (handle >= 0) {
            FreeKeyInput(static_cast<KeyInputRecord*>(RemoveHandleRecord(s_keyInputTable.get(), handle)));
        }
    }
    if (pack == nullptr) pack = PackRgbWord;
    for (int32_t i = 0; i < kKeyInputColours; ++i) {
        s_keyInputColours[i] = pack(kKeyInputRgb[i].red, kKeyInputRgb[i].green, kKeyInputRgb[i].blue);
    }
    s_activeKeyInput = -1;
    s_blink.start = 0;
    s_blink.period = 500;
    s_blink.visible = 1;
    g_charInputServed = 1;
    AppendLog(L"完了しました\n");
    return 0;
}

int32_t ResetCursorBlink()
{
    s_blink.start = timeGetTime() & 0x7FFFFFFF;
    s_blink.visible = 1;
    return 0;
}

namespace {
KeyInputRecord* FindKeyInput(int32_t handle)
{
    return FindHandleRecordAs<KeyInputRecord>(s_keyInputTable.get(), handle);
}
}  // namespace

int CreateKeyInput(int maxLength, int cancelAllowed)
{
    if (maxLength < 1 || maxLength > 0xFFFF) {
        return -1;
    }
    auto* record = static_cast<KeyInputRecord*>(AllocTrackedMemoryZeroed(sizeof(KeyInputRecord), "", 0));
    if (record == nullptr) {
        return -1;
    }
    record->text = static_cast<uint16_t*>(
        AllocTrackedMemoryZeroed(static_cast<uint32_t>(maxLength + 1) * sizeof(uint16_t), "", 0));
    if (record->text == nullptr) {
        FreeTrackedMemory(record);
        return -1;
    }
    record->maxLength = maxLength;
    record->selectionStart = -1;
    record->selectionEnd = -1;
    record->cancelAllowed = cancelAllowed ? 1 : 0;
    const int32_t handle = AddHandleRecord(s_keyInputTable.get(), record);
    if (handle < 0) {
        FreeKeyInput(record);
        return -1;
    }
    record->inUse = 1;
    record->check = HandleCheckOf(handle);
    return handle;
}

int ActivateKeyInput(int handle)
{
    if (handle == -1) {
        s_activeKeyInput = -1;
        return 0;
    }
    KeyInputRecord* record = FindKeyInput(handle);
    if (record == nullptr) {
        return -1;
    }
    record->end = kKeyInputEditing;
    s_activeKeyInput = handle;
    SetImeEnabled(1);
    ResetCursorBlink();
    return 0;
}

int QueryKeyInputEnd(int handle)
{
    const KeyInputRecord* record = FindKeyInput(handle);
    return record != nullptr ? record->end : -1;
}

int GetKeyInputText(int handle, wchar_t* dst, int capacity)
{
    const KeyInputRecord* record = FindKeyInput(handle);
    if (record == nullptr || dst == nullptr || capacity < 1) {
        return -1;
    }
    const int units = record->length < capacity - 1 ? record->length : capacity - 1;
    std::memcpy(dst, record->text, sizeof(wchar_t) * static_cast<size_t>(units));
    dst[units] = 0;
    return units;
}

int DeleteKeyInput(int handle)
{
    auto* record = static_cast<KeyInputRecord*>(RemoveHandleRecord(s_keyInputTable.get(), handle));
    if (record == nullptr) {
        return -1;
    }
    FreeKeyInput(record);
    if (s_activeKeyInput == handle) {
        s_activeKeyInput = -1;
    }
    if (s_keyInputTable->liveCount == 0) {
        SetImeEnabled(0);
    }
    return 0;
}

int32_t EndKeyInput()
{
    for (int32_t slot = 0; slot < kKeyInputSlots; ++slot) {
        const int32_t handle = HandleOfSlot(s_keyInputTable.get(), slot);
        if (handle >= 0) {
            DeleteKeyInput(handle);
        }
    }
    s_activeKeyInput = -1;
    return 0;
}

namespace {
void CopySelection(const KeyInputRecord* record)
{
    int32_t from = 0;
    int32_t to = 0;
    if (SelectedRange(record, &from, &to) == 0) {
        return;
    }
    auto* text = static_cast<wchar_t*>(
        AllocTrackedMemory(static_cast<uint32_t>(to - from + 1) * sizeof(wchar_t), "", 0));
    if (text == nullptr) {
        return;
    }
    std::memcpy(text, record->text + from, sizeof(wchar_t) * static_cast<size_t>(to - from));
    text[to - from] = 0;
    SetClipboardText(text);
    FreeTrackedMemory(text);
}

// Inserts the clipboard's first line, as much of it as fits, never splitting a pair.
void Paste(KeyInputRecord* record)
{
    const int bytes = GetClipboardText(nullptr, 0);
    if (bytes <= 0) {
        return;
    }
    const int capacity = bytes / static_cast<int>(sizeof(wchar_t)) + 1;
    auto* text = static_cast<wchar_t*>(AllocTrackedMemory(static_cast<uint32_t>(capacity) * sizeof(wchar_t), "", 0));
    if (text == nullptr) {
        return;
    }
    if (GetClipboardText(text, capacity) == 0) {
        for (int i = 0; text[i] != 0 && text[i] != L'\r' && text[i] != L'\n'; ++i) {
            const uint16_t unit = static_cast<uint16_t>(text[i]);
            const bool pair = unit >= 0xD800 && unit <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            const uint16_t units[2] = {unit, static_cast<uint16_t>(pair ? text[i + 1] : 0)};
            if (unit < 0x20 || InsertKeyInputText(record, units, pair ? 2 : 1) != 0) {
                break;
            }
            i += pair ? 1 : 0;
        }
    }
    FreeTrackedMemory(text);
}

void ApplyUnits(KeyInputRecord* record, const uint16_t units[2], int count)
{
    if (count == 2 || (units[0] >= 0x20 && !IsControlCode(units[0]))) {
        InsertKeyInputText(record, units, count);
        return;
    }
    switch (ApplyKeyInputControl(record, units[0])) {
    case kKeyInputCopyRequest: CopySelection(record); break;
    case kKeyInputCutRequest:
        CopySelection(record);
        ApplyKeyInputControl(record, kCtrlDelete);
        break;
    case kKeyInputPasteRequest: Paste(record); break;
    default: break;
    }
}
}  // namespace

int32_t ProcessKeyInputStep()
{
    RunImeRestore();
    if (s_activeKeyInput == -1) {
        return 0;
    }
    KeyInputRecord* record = FindKeyInput(s_activeKeyInput);
    if (record == nullptr) {
        return -1;
    }
    if (record->busy) {
        return 0;
    }
    record->busy = 1;
    if (g_ime.composing) {
        const int32_t room = record->maxLength - record->length;
        if (CountWideUnits(g_ime.composition) > room) {
            CancelImeComposition();
        }
    }
    while (record->end == kKeyInputEditing) {
        uint16_t units[2];
        const int count = TakeCharInput(units, 1);
        if (count == 0) {
            break;
        }
        ApplyUnits(record, units, count);
    }
    record->busy = 0;
    return 0;
}
