// Typed text: the character ring between the window procedure and its readers, the control
// codes that editing keys become, and the line editing of key-input records. Needs no
// operating system; text is in UTF-16 units.
#pragma once

#include <cstdint>

// One slot always stays free, so the ring holds at most 1,024 units.
constexpr int kCharRingSlots = 1025;

struct CharInputRing {
    uint16_t units[kCharRingSlots];
    int32_t read;   // 0 .. kCharRingSlots - 1
    int32_t write;  // empty when equal to read
};

void ClearCharRing(CharInputRing* ring);
int CharRingHasRoom(const CharInputRing* ring);  // 1 or 0
// 0, or -1 when the ring is full.
int PushCharRing(CharInputRing* ring, uint16_t unit);
// Takes one character: 1 unit, or 2 for a surrogate pair. A high surrogate whose partner
// has not arrived yet stays in the ring and gives 0, as does an empty ring. Both outputs
// start at 0. With take 0 the ring is left as it was (peek).
int TakeCharRing(CharInputRing* ring, uint16_t out[2], int take);

// The library's own ring, filled by the window procedure and the IME.
extern CharInputRing g_charInput;
CharInputRing* LibraryCharRing();
int PushCharInput(uint16_t unit);
int TakeCharInput(uint16_t out[2], int take);
// The oldest unit on its own (a surrogate is not paired), or -1 when the ring is empty.
int32_t PopCharInputUnit();

// Control codes that editing keys push into the ring (WM_KEYDOWN), in place of characters.
constexpr uint16_t kCtrlDelete = 0x10;
constexpr uint16_t kCtrlLeft = 0x1D;
constexpr uint16_t kCtrlRight = 0x1C;
constexpr uint16_t kCtrlUp = 0x1E;
constexpr uint16_t kCtrlDown = 0x1F;
constexpr uint16_t kCtrlHome = 0x1A;
constexpr uint16_t kCtrlEnd = 0x19;
constexpr uint16_t kCtrlPageUp = 0x17;
constexpr uint16_t kCtrlPageDown = 0x15;
// Control characters that come through WM_CHAR as they are.
constexpr uint16_t kCtrlSelectAll = 1;  // Ctrl+A
constexpr uint16_t kCtrlCopy = 3;       // Ctrl+C
constexpr uint16_t kCtrlBackspace = 8;
constexpr uint16_t kCtrlTab = 9;
constexpr uint16_t kCtrlEnter = 13;
constexpr uint16_t kCtrlPaste = 22;  // Ctrl+V
constexpr uint16_t kCtrlCut = 24;    // Ctrl+X
constexpr uint16_t kCtrlEscape = 27;

int CharInputHasRoom();  // room in the library's ring: 1 or 0

// The control code of a virtual key (Delete, cursor keys, Home, End, Page Up/Down), or 0.
int32_t ControlCodeOfKey(int32_t virtualKey);
// The unit WM_CHAR stores for a character code: line feed becomes carriage return, codes
// from 32 up and the control characters 1, 3, 8, 9, 13, 16, 22, 24 and 27 pass; -1 drops.
int32_t CharInputUnitOfCode(uint32_t code);
// 1 when the unit is one of the editing-key control codes above (0x10 .. 0x1F set), else 0.
int IsControlCode(uint16_t unit);
// Characters in the first units of text (a surrogate pair counts once), stopping at a 0 unit.
int CountCharacters(const uint16_t* text, int units);

// A key-input record: one line of text being edited.
enum KeyInputEnd : int32_t {
    kKeyInputEditing = 0,
    kKeyInputEntered = 1,    // Enter was typed
    kKeyInputCancelled = 2,  // Escape was typed and cancelling is allowed
};

struct KeyInputRecord {
    int32_t inUse;
    int32_t check;
    int32_t busy;
    int32_t length;          // units of text
    int32_t maxLength;       // units; text holds maxLength + 1
    int32_t selectionStart;  // -1 when nothing is selected
    int32_t selectionEnd;
    int32_t cursor;  // unit position, never inside a surrogate pair
    uint16_t* text;  // terminated
    int32_t end;     // KeyInputEnd
    int32_t cancelAllowed;
};

// The selection as a range from..to inside the text (start and end in either order);
// returns its units, 0 when nothing is selected.
int32_t SelectedRange(const KeyInputRecord* record, int32_t* from, int32_t* to);
// Removes the selected range, ends the selection, and puts the cursor at the new length
// when it lay beyond it. Returns 0.
int DeleteSelectedText(KeyInputRecord* record);
// Inserts units at the cursor in place of the selection. Refused (-1, no change) when the
// text would pass its maximum; 0 otherwise.
int InsertKeyInputText(KeyInputRecord* record, const uint16_t* units, int count);

// What the caller must do after a control code: the clipboard is the caller's business.
enum KeyInputRequest : int32_t {
    kKeyInputNoRequest = 0,
    kKeyInputCopyRequest = 1,   // copy the selection
    kKeyInputPasteRequest = 2,  // insert the clipboard's text
    kKeyInputCutRequest = 3,    // copy the selection, then apply kCtrlDelete
};
// Applies one editing control code to the record.
KeyInputRequest ApplyKeyInputControl(KeyInputRecord* record, uint16_t code);
