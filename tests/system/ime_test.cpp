
#include "quarn/core/core.h"
#include "quarn/quarn.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"
#include "tests/system/input_fixture.h"

#include <imm.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A stand-in IME: strings it reports, candidates it lists, and the calls it was given.
struct FakeIme {
    std::wstring composition;
    std::wstring result;
    LONG cursor = 0;
    std::vector<DWORD> clauses;
    std::vector<std::wstring> candidates;
    bool failCandidateRead = false;
    BOOL open = TRUE;
    std::vector<std::wstring> calls;
    int contexts = 0;  // taken and not released
};
FakeIme s_fakeIme;
HIMC const kContext = reinterpret_cast<HIMC>(0x1234);

HIMC WINAPI GetContext(HWND)
{
    s_fakeIme.contexts += 1;
    return kContext;
}

BOOL WINAPI ReleaseContext(HWND, HIMC)
{
    s_fakeIme.contexts -= 1;
    return TRUE;
}

// Copies like the real call: at most the buffer's bytes, and the bytes it needs without one.
LONG Copy(const void* data, DWORD size, void* buffer, DWORD bytes)
{
    if (buffer == nullptr || bytes == 0) {
        return static_cast<LONG>(size);
    }
    const DWORD n = size < bytes ? size : bytes;
    std::memcpy(buffer, data, n);
    return static_cast<LONG>(n);
}

LONG WINAPI GetCompositionString(HIMC, DWORD index, void* buffer, DWORD bytes)
{
    switch (index) {
    case GCS_COMPSTR: return Copy(s_fakeIme.composition.data(), s_fakeIme.composition.size() * 2, buffer, bytes);
    case GCS_RESULTSTR: return Copy(s_fakeIme.result.data(), s_fakeIme.result.size() * 2, buffer, bytes);
    case GCS_CURSORPOS: return s_fakeIme.cursor;
    case GCS_COMPCLAUSE: return Copy(s_fakeIme.clauses.data(), s_fakeIme.clauses.size() * 4, buffer, bytes);
    default: return IMM_ERROR_GENERAL;
    }
}

std::vector<uint8_t> CandidateBlock()
{
    const DWORD count = static_cast<DWORD>(s_fakeIme.candidates.size());
    const DWORD header = static_cast<DWORD>(offsetof(CANDIDATELIST, dwOffset)) + count * sizeof(DWORD);
    std::vector<uint8_t> block(header);
    for (const std::wstring& text : s_fakeIme.candidates) {
        const size_t at = block.size();
        block.resize(at + (text.size() + 1) * 2);
        std::memcpy(block.data() + at, text.c_str(), (text.size() + 1) * 2);
    }
    auto* list = reinterpret_cast<CANDIDATELIST*>(block.data());
    list->dwSize = static_cast<DWORD>(block.size());
    list->dwStyle = IME_CAND_READ;
    list->dwCount = count;
    list->dwPageSize = 9;
    DWORD offset = header;
    for (DWORD i = 0; i < count; ++i) {
        list->dwOffset[i] = offset;
        offset += static_cast<DWORD>((s_fakeIme.candidates[i].size() + 1) * 2);
    }
    return block;
}

DWORD WINAPI GetCandidateList(HIMC, DWORD, CANDIDATELIST* list, DWORD bytes)
{
    if (s_fakeIme.candidates.empty()) {
        return 0;
    }
    const std::vector<uint8_t> block = CandidateBlock();
    if (list == nullptr || bytes == 0) {
        return static_cast<DWORD>(block.size());
    }
    if (s_fakeIme.failCandidateRead || bytes < block.size()) {
        return 0;
    }
    std::memcpy(list, block.data(), block.size());
    return static_cast<DWORD>(block.size());
}

BOOL WINAPI GetOpenStatus(HIMC) { return s_fakeIme.open; }

BOOL WINAPI SetOpenStatus(HIMC, BOOL open)
{
    s_fakeIme.calls.push_back(open ? L"open" : L"close");
    return TRUE;
}

BOOL WINAPI Notify(HIMC, DWORD action, DWORD index, DWORD)
{
    if (action == NI_COMPOSITIONSTR && index == CPS_CANCEL) {
        s_fakeIme.calls.push_back(L"cancel");
    }
    return TRUE;
}

BOOL WINAPI SetCompositionString(HIMC, DWORD index, const void* text, DWORD bytes, const void*, DWORD)
{
    if (index == SCS_SETSTR) {
        s_fakeIme.calls.push_back(L"set:" + std::wstring(static_cast<const wchar_t*>(text), bytes / 2));
    }
    return TRUE;
}

BOOL WINAPI Enable(HWND, BOOL enable)
{
    s_fakeIme.calls.push_back(enable ? L"enable" : L"disable");
    return TRUE;
}

const ImeApi kFakeImeApi = {
    .getContext = GetContext,
    .releaseContext = ReleaseContext,
    .getCompositionString = GetCompositionString,
    .getCandidateList = GetCandidateList,
    .getOpenStatus = GetOpenStatus,
    .setOpenStatus = SetOpenStatus,
    .notify = Notify,
    .setCompositionString = SetCompositionString,
    .enable = Enable,
};

std::wstring g_log;

struct ImeTest : ::testing::Test {
    void SetUp() override
    {
        s_fakeIme = FakeIme{};
        ResetWindowState(nullptr);
        CaptureLogInto(&g_log);
        SetImeApi(&kFakeImeApi);
        StartCharInput();
    }
    void TearDown() override
    {
        EndKeyInput();
        SetImeEnabled(0);
        StartCharInput();
        SetImeApi(nullptr);
        SetLogCapture(nullptr, nullptr);
        ResetInputState();
        EXPECT_EQ(s_fakeIme.contexts, 0) << "an input context was not released";
    }
    static LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return HandleImeMessage(nullptr, message, wParam, lParam);
    }
    static std::wstring Composition()
    {
        wchar_t text[kCompositionUnits];
        QueryImeComposition(text, kCompositionUnits, nullptr);
        return text;
    }
    static std::wstring Taken()
    {
        std::wstring text;
        uint16_t units[2];
        for (int n; (n = TakeCharInput(units, 1)) != 0;) {
            text.append(units, units + n);
        }
        return text;
    }
};

uint32_t s_packCalls;
uint32_t PackForTest(int red, int green, int blue)
{
    ++s_packCalls;
    // A form of its own, so that the colours are seen to come from the packing given.
    return 0xA0000000u | static_cast<uint32_t>(blue) << 16 | static_cast<uint32_t>(green) << 8 |
           static_cast<uint32_t>(red);
}

TEST_F(ImeTest, StartMakesTheFifteenKeyInputColoursInTheGivenForm)
{
    const uint32_t rgb[kKeyInputColours] = {0xFFFFFF, 0xFFFF00, 0xFFFFFF, 0x00FFFF, 0xFFFFFF,
                                            0xFF0000, 0xFFFF14, 0x000000, 0x000000, 0x000000,
                                            0xFFFF00, 0x000000, 0xFFFFFF, 0x000000, 0x808080};
    s_packCalls = 0;
    StartCharInput(PackForTest);
    EXPECT_EQ(s_packCalls, static_cast<uint32_t>(kKeyInputColours));
    for (int32_t i = 0; i < kKeyInputColours; ++i) {
        const uint32_t c = rgb[i];
        EXPECT_EQ(GetKeyInputColour(i), PackForTest(c >> 16, (c >> 8) & 0xFF, c & 0xFF)) << i;
    }
    EXPECT_EQ(GetKeyInputColour(kKeyInputColours), 0u);
    EXPECT_EQ(GetKeyInputColour(-1), 0u);
    StartCharInput();
    EXPECT_EQ(GetKeyInputColour(6), 0xFFFF14u) << "without a packing: 0x00RRGGBB";
}

TEST_F(ImeTest, CompositionCursorAndClauses)
{
    EXPECT_EQ(Send(WM_IME_STARTCOMPOSITION), 0);
    EXPECT_EQ(g_ime.composing, 1);
    s_fakeIme.composition = L"𠮷野家で";  // a surrogate pair first
    s_fakeIme.cursor = 4;                 // units: after "𠮷野家"
    s_fakeIme.clauses = {0, 3, 5};
    Send(WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_CURSORPOS | GCS_COMPCLAUSE);
    EXPECT_EQ(Composition(), L"𠮷野家で");
    int cursor = -1;
    EXPECT_EQ(QueryImeComposition(nullptr, 0, &cursor), 5);
    EXPECT_EQ(cursor, 3);
    EXPECT_EQ(g_ime.clauseCount, 3);
    Send(WM_IME_ENDCOMPOSITION);
    EXPECT_EQ(g_ime.composing, 0);
    EXPECT_EQ(Composition(), L"");
}

TEST_F(ImeTest, OverlongCompositionIsCutAndTerminated)
{
    s_fakeIme.composition.assign(700, L'あ');
    std::memset(g_ime.composition, 0xFF, sizeof(g_ime.composition));
    s_fakeIme.cursor = 100000;
    Send(WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_CURSORPOS);
    EXPECT_EQ(Composition(), std::wstring(kCompositionUnits - 1, L'あ'));
    EXPECT_EQ(g_ime.composition[kCompositionUnits - 1], 0);
    EXPECT_EQ(g_ime.compositionCursor, kCompositionUnits - 1);
}

TEST_F(ImeTest, ResultStringGoesIntoTheRing)
{
    s_fakeIme.result = L"漢字😀";
    s_fakeIme.composition = L"";
    Send(WM_IME_COMPOSITION, 0, GCS_RESULTSTR);
    EXPECT_EQ(Taken(), L"漢字😀");
    EXPECT_EQ(Composition(), L"");  // read again after the result
}

TEST_F(ImeTest, CandidateListReadKeptAndFreedOnce)
{
    s_fakeIme.candidates = {L"漢字", L"感じ", L"幹事"};
    EXPECT_EQ(Send(WM_IME_NOTIFY, IMN_OPENCANDIDATE), 0);
    EXPECT_EQ(QueryImeCandidate(-1, nullptr, 0), 3);
    wchar_t text[8];
    EXPECT_EQ(QueryImeCandidate(1, text, 8), 2);
    EXPECT_STREQ(text, L"感じ");
    EXPECT_EQ(QueryImeCandidate(2, text, 2), 1);  // cut to the room
    EXPECT_STREQ(text, L"幹");
    EXPECT_EQ(QueryImeCandidate(3, text, 8), -1);

    s_fakeIme.candidates = {L"換字"};
    Send(WM_IME_NOTIFY, IMN_CHANGECANDIDATE);
    EXPECT_EQ(QueryImeCandidate(-1, nullptr, 0), 1);

    // A failed read leaves no list behind, so closing frees nothing twice.
    const AllocatorTotals before = GetAllocatorTotals();
    s_fakeIme.failCandidateRead = true;
    Send(WM_IME_NOTIFY, IMN_SETCANDIDATEPOS);
    EXPECT_NE(g_log.find(L"漢字変換候補の取得に失敗しました"), std::wstring::npos);
    EXPECT_EQ(g_ime.candidates, nullptr);
    EXPECT_EQ(QueryImeCandidate(-1, nullptr, 0), -1);
    Send(WM_IME_NOTIFY, IMN_CLOSECANDIDATE);
    const AllocatorTotals after = GetAllocatorTotals();
    EXPECT_EQ(after.blockCount, before.blockCount - 1);  // the one list, freed once

    s_fakeIme.candidates.clear();
    Send(WM_IME_NOTIFY, IMN_OPENCANDIDATE);
    EXPECT_NE(g_log.find(L"漢字変換候補のデータサイズが０でした"), std::wstring::npos);
}

TEST_F(ImeTest, BrokenCandidateListsAreRefused)
{
    s_fakeIme.candidates = {L"一", L"二"};
    Send(WM_IME_NOTIFY, IMN_OPENCANDIDATE);
    ASSERT_NE(g_ime.candidates, nullptr);
    wchar_t text[8];
    g_ime.candidates->dwOffset[1] = 0x7FFFFFF0;  // outside the block
    EXPECT_EQ(QueryImeCandidate(1, text, 8), -1);
    g_ime.candidates->dwOffset[1] = 2;  // inside the header
    EXPECT_EQ(QueryImeCandidate(1, text, 8), -1);
    g_ime.candidates->dwCount = 0x40000000;  // more offsets than the block holds
    EXPECT_EQ(QueryImeCandidate(-1, nullptr, 0), -1);
    g_ime.candidates->dwCount = 2;
    EXPECT_EQ(QueryImeCandidate(0, text, 8), 1);
    // A last string without its terminator.
    auto* bytes = reinterpret_cast<uint8_t*>(g_ime.candidates);
    g_ime.candidates->dwOffset[1] = static_cast<DWORD>(g_ime.candidateBytes - 2);
    *reinterpret_cast<wchar_t*>(bytes + g_ime.candidateBytes - 2) = L'x';
    EXPECT_EQ(QueryImeCandidate(1, text, 8), -1);
}

TEST_F(ImeTest, EnablingCallsTheSystemOnlyOnAChange)
{
    SetImeEnabled(1);
    SetImeEnabled(1);
    EXPECT_EQ(s_fakeIme.calls, std::vector<std::wstring>{L"enable"});
    EXPECT_EQ(IsImeInUse(), 1);
    s_fakeIme.candidates = {L"候補"};
    Send(WM_IME_NOTIFY, IMN_OPENCANDIDATE);
    SetImeEnabled(0);
    EXPECT_EQ(g_ime.candidates, nullptr);
    EXPECT_EQ(s_fakeIme.calls.back(), L"disable");
}

TEST_F(ImeTest, ActivationRestoresTheComposition)
{
    FlagImeRestore();  // IME off: nothing to restore
    EXPECT_EQ(g_ime.restoreStep, 0);
    SetImeEnabled(1);
    g_ime.open = 1;
    FlagImeRestore();
    EXPECT_EQ(g_ime.restoreStep, 1);
    s_fakeIme.composition = L"にほん";
    s_fakeIme.calls.clear();
    ProcessKeyInputStep();
    EXPECT_EQ(s_fakeIme.calls, (std::vector<std::wstring>{L"cancel", L"close", L"open", L"open", L"set:にほん"}));
    EXPECT_EQ(g_ime.restoreStep, 0);
}

TEST_F(ImeTest, KeyInputTakesTheRingAndTheLastDeletionSwitchesTheImeOff)
{
    const int first = CreateKeyInput(6, 1);
    const int second = CreateKeyInput(4, 0);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    EXPECT_EQ(first & 0x78000000, 0x38000000);
    EXPECT_EQ(CreateKeyInput(0, 0), -1);
    ASSERT_EQ(ActivateKeyInput(first), 0);
    EXPECT_EQ(IsImeInUse(), 1);

    const uint16_t typed[] = {u'a', u'b', 0xD83D, 0xDE00, kCtrlLeft, kCtrlBackspace, u'c'};
    for (uint16_t unit : typed) {
        PushCharInput(unit);
    }
    PushCharInput(0xD842);  // its partner has not come yet
    ASSERT_EQ(ProcessKeyInputStep(), 0);
    wchar_t text[16];
    EXPECT_EQ(GetKeyInputText(first, text, 16), 4);
    EXPECT_STREQ(text, L"ac😀");
    PushCharInput(0xDFB7);
    PushCharInput(kCtrlEnter);
    PushCharInput(u'z');  // after the end: stays for the next reader
    ProcessKeyInputStep();
    EXPECT_STREQ((GetKeyInputText(first, text, 16), text), L"ac𠮷😀");
    EXPECT_EQ(QueryKeyInputEnd(first), 1);
    EXPECT_EQ(Taken(), L"z");

    // A composition longer than the room left is cancelled.
    ActivateKeyInput(second);
    g_ime.composing = 1;
    CopyWideString(g_ime.composition, L"あいうえお");
    s_fakeIme.calls.clear();
    ProcessKeyInputStep();
    EXPECT_EQ(s_fakeIme.calls, std::vector<std::wstring>{L"cancel"});
    EXPECT_EQ(Composition(), L"");

    EXPECT_EQ(DeleteKeyInput(first), 0);
    EXPECT_EQ(DeleteKeyInput(first), -1);  // stale handle
    EXPECT_EQ(QueryKeyInputEnd(first), -1);
    EXPECT_EQ(IsImeInUse(), 1);
    EXPECT_EQ(DeleteKeyInput(second), 0);
    EXPECT_EQ(IsImeInUse(), 0);
    EXPECT_EQ(ProcessKeyInputStep(), 0);                 // no active handle any more
    EXPECT_EQ(DeleteKeyInput(second ^ 0x08000000), -1);  // another type
}

}  // namespace
