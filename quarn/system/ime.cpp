// The IME: composition, result and candidate strings from the window's IME messages, and
// the composition's restore after the window becomes active again.
#include "quarn/system/system.h"

#include "quarn/core/core.h"
#include "quarn/quarn.h"

#include <imm.h>

#include <cstring>

ImeState g_ime;

namespace {
LONG WINAPI RealGetCompositionString(HIMC context, DWORD index, void* buffer, DWORD bytes)
{
    return ImmGetCompositionStringW(context, index, buffer, bytes);
}

BOOL WINAPI RealSetCompositionString(HIMC context, DWORD index, const void* composition, DWORD bytes,
                                     const void* reading, DWORD readingBytes)
{
    return ImmSetCompositionStringW(context, index, const_cast<void*>(composition), bytes, const_cast<void*>(reading),
                                    readingBytes);
}
}  // namespace

static const ImeApi kRealIme = {
    .getContext = ImmGetContext,
    .releaseContext = ImmReleaseContext,
    .getCompositionString = RealGetCompositionString,
    .getCandidateList = ImmGetCandidateListW,
    .getOpenStatus = ImmGetOpenStatus,
    .setOpenStatus = ImmSetOpenStatus,
    .notify = ImmNotifyIME,
    .setCompositionString = RealSetCompositionString,
    .enable = WINNLSEnableIME,
};

static const ImeApi* s_imeApi = nullptr;  // null: the real calls

namespace {
const ImeApi* Ime() { return s_imeApi != nullptr ? s_imeApi : &kRealIme; }
}  // namespace

const ImeApi* SetImeApi(const ImeApi* api)
{
    const ImeApi* previous = Ime();
    s_imeApi = api;
    return previous;
}

namespace {
void FreeCandidates()
{
    FreeTrackedMemory(g_ime.candidates);
    g_ime.candidates = nullptr;
    g_ime.candidateBytes = 0;
}

void ClearComposition()
{
    std::memset(g_ime.composition, 0, sizeof(g_ime.composition));
    g_ime.compositionCursor = 0;
}
}  // namespace

int32_t SetImeEnabled(int32_t flag)
{
    flag = flag ? 1 : 0;
    if (flag == g_ime.enabled) {
        return 0;
    }
    Ime()->enable(QueryMainWindow(), flag);
    g_ime.enabled = flag;
    if (!flag) {
        FreeCandidates();
        ClearComposition();
        g_ime.composing = 0;
    }
    return 0;
}

int32_t IsImeInUse() { return g_ime.enabled; }

int32_t FlagImeRestore()
{
    if (g_ime.enabled && g_ime.open) {
        g_ime.restoreStep = 1;
    }
    return 0;
}

namespace {
// Reads a string of the context into units (capacity includes the terminator); returns
// the units read. An IME that reports more than the room is cut at the room.
int ReadImeString(HIMC context, DWORD index, wchar_t* units, int capacity)
{
    const DWORD room = static_cast<DWORD>(capacity - 1) * sizeof(wchar_t);
    LONG bytes = Ime()->getCompositionString(context, index, units, room);
    if (bytes < 0) {
        bytes = 0;
    }
    int count = static_cast<int>(static_cast<DWORD>(bytes) > room ? room : static_cast<DWORD>(bytes)) /
                static_cast<int>(sizeof(wchar_t));
    units[count] = 0;
    return count;
}

void OnComposition(HWND window, LPARAM flags)
{
    HIMC context = Ime()->getContext(window);
    if (context == nullptr) {
        return;
    }
    if (flags & GCS_COMPSTR) {
        ReadImeString(context, GCS_COMPSTR, g_ime.composition, kCompositionUnits);
    }
    if (flags & GCS_RESULTSTR) {
        wchar_t result[kCharRingSlots];
        const int count = ReadImeString(context, GCS_RESULTSTR, result, kCharRingSlots);
        for (int i = 0; i < count; ++i) {
            PushCharInput(static_cast<uint16_t>(result[i]));
        }
        ReadImeString(context, GCS_COMPSTR, g_ime.composition, kCompositionUnits);
    }
    if (flags & GCS_CURSORPOS) {
        LONG units = Ime()->getCompositionString(context, GCS_CURSORPOS, nullptr, 0);
        units = units < 0 ? 0 : (units > kCompositionUnits ? kCompositionUnits : units);
        g_ime.compositionCursor = CountCharacters(reinterpret_cast<const uint16_t*>(g_ime.composition),
                                                  static_cast<int>(units));
    }
    if (flags & GCS_COMPCLAUSE) {
        LONG bytes = Ime()->getCompositionString(context, GCS_COMPCLAUSE, g_ime.clauses, kClauseBytes);
        bytes = bytes < 0 ? 0 : (bytes > kClauseBytes ? kClauseBytes : bytes);
        g_ime.clauseCount = static_cast<int32_t>(bytes / 4);
    }
    Ime()->releaseContext(window, context);
}

void ReadCandidates(HWND window)
{
    HIMC context = Ime()->getContext(window);
    const DWORD size = Ime()->getCandidateList(context, 0, nullptr, 0);
    if (size == 0) {
        AppendLogFormat(L"漢字変換候補のデータサイズが０でした  DefHWND:%x IMC:%x",
                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)),
                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(context)));
        Ime()->releaseContext(window, context);
        return;
    }
    FreeCandidates();
    g_ime.candidates = static_cast<CANDIDATELIST*>(AllocTrackedMemory(size, "", 0));
    if (g_ime.candidates == nullptr) {
        FatalErrorExitFormat(L"漢字変換候補を保存するメモリの確保に失敗しました( 確保しようとしたサイズ %d バイト )",
                             static_cast<int>(size));
    }
    g_ime.candidateBytes = static_cast<int32_t>(size);
    if (Ime()->getCandidateList(context, 0, g_ime.candidates, size) == 0) {
        FreeCandidates();
        AppendLogFormat(L"漢字変換候補の取得に失敗しました  BufSize:%d", static_cast<int>(size));
    }
    Ime()->releaseContext(window, context);
}

void OnOpenStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_ime.openStatusGuard) {
        return;
    }
    g_ime.openStatusGuard = 1;
    DefWindowProcW(window, message, wParam, lParam);
    const int64_t start = ReadMicrosecondClock(0);
    while (PumpWindowMessages() == 0 && ReadMicrosecondClock(0) - start < 2000) {
    }
    HIMC context = Ime()->getContext(window);
    g_ime.open = Ime()->getOpenStatus(context) ? 1 : 0;
    Ime()->releaseContext(window, context);
    g_ime.openStatusGuard = 0;
}
}  // namespace

LRESULT HandleImeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_ime.messageSeen = 1;
    ResetCursorBlink();
    switch (message) {
    case WM_IME_STARTCOMPOSITION:
        g_ime.composing = 1;
        g_ime.compositionCursor = 0;
        return 0;
    case WM_IME_ENDCOMPOSITION:
        ClearComposition();
        g_ime.composing = 0;
        return 0;
    case WM_IME_COMPOSITION: OnComposition(window, lParam); return 0;
    case WM_IME_NOTIFY:
        switch (wParam) {
        case IMN_OPENCANDIDATE:
        case IMN_CHANGECANDIDATE:
        case IMN_SETCANDIDATEPOS: ReadCandidates(window); return 0;
        case IMN_CLOSECANDIDATE: FreeCandidates(); return 0;
        case IMN_SETOPENSTATUS: OnOpenStatus(window, message, wParam, lParam); return 0;
        default: return DefWindowProcW(window, message, wParam, lParam);
        }
    default:  // WM_IME_SETCONTEXT
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The composition is saved and cancelled, the IME closed and opened again, and the saved
// text put back: this brings the IME's window back after the program was switched away from.
int32_t RunImeRestore()
{
    if (g_ime.restoreStep == 0) {
        return 0;
    }
    HWND window = QueryMainWindow();
    HIMC context = Ime()->getContext(window);
    if (context != nullptr) {
        if (g_ime.restoreStep <= 1) {
            ReadImeString(context, GCS_COMPSTR, g_ime.saved, kCompositionUnits);
            Ime()->notify(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
        }
        if (g_ime.restoreStep <= 2) {
            Ime()->setOpenStatus(context, FALSE);
        }
        if (g_ime.restoreStep <= 3) {
            Ime()->setOpenStatus(context, TRUE);
        }
        Ime()->setOpenStatus(context, TRUE);
        Ime()->setCompositionString(context, SCS_SETSTR, g_ime.saved,
                                    static_cast<DWORD>(CountWideUnits(g_ime.saved)) * sizeof(wchar_t), nullptr, 0);
        Ime()->releaseContext(window, context);
    }
    g_ime.restoreStep = 0;
    return 0;
}

// Cancels the composition in the IME and here.
void CancelImeComposition()
{
    HWND window = QueryMainWindow();
    HIMC context = Ime()->getContext(window);
    if (context != nullptr) {
        Ime()->notify(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
        Ime()->releaseContext(window, context);
    }
    ClearComposition();
}

int QueryImeComposition(wchar_t* dst, int capacity, int* cursor)
{
    if (cursor != nullptr) {
        *cursor = g_ime.compositionCursor;
    }
    const int units = CountWideUnits(g_ime.composition);
    if (dst == nullptr) {
        return units;
    }
    if (capacity < 1) {
        return -1;
    }
    CopyWideStringLimited(dst, g_ime.composition, capacity - 1);
    return units < capacity - 1 ? units : capacity - 1;
}

int QueryImeCandidate(int index, wchar_t* dst, int capacity)
{
    const CANDIDATELIST* list = g_ime.candidates;
    const uint32_t size = static_cast<uint32_t>(g_ime.candidateBytes);
    if (list == nullptr || size < sizeof(CANDIDATELIST) || list->dwSize > size) {
        return -1;
    }
    // The offsets table must lie inside the block the IME filled.
    const uint32_t offsetsEnd = static_cast<uint32_t>(offsetof(CANDIDATELIST, dwOffset));
    if (list->dwCount > (size - offsetsEnd) / sizeof(DWORD)) {
        return -1;
    }
    if (index == -1) {
        return static_cast<int>(list->dwCount);
    }
    if (index < 0 || static_cast<uint32_t>(index) >= list->dwCount || dst == nullptr || capacity < 1) {
        return -1;
    }
    const uint32_t offset = list->dwOffset[index];
    if (offset < offsetsEnd + list->dwCount * sizeof(DWORD) || offset >= size || (offset & 1) != 0) {
        return -1;
    }
    const wchar_t* text = reinterpret_cast<const wchar_t*>(reinterpret_cast<const uint8_t*>(list) + offset);
    const int available = static_cast<int>((size - offset) / sizeof(wchar_t));
    int units = 0;
    while (units < available && text[units] != 0) {
        ++units;
    }
    if (units == available) {
        return -1;  // no terminator inside the block
    }
    const int copied = units < capacity - 1 ? units : capacity - 1;
    std::memcpy(dst, text, sizeof(wchar_t) * static_cast<size_t>(copied));
    dst[copied] = 0;
    return copied;
}
