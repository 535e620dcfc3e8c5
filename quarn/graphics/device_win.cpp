// Renderer start and end: "d3d9.dll", the vertical-blank object, the render back ends' start
// order, and the graphics subsystem's end (the fonts end before it, in the runtime).
#include <windows.h>

#include <ddraw.h>

#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"

// A new back end is one more line here; the software renderer, which needs no device, comes
// last.
const RenderBackend* const kRenderBackendOrder[] = {
    &kDeviceRenderBackend,
    &kSoftwareRenderBackend,
};
const int32_t kRenderBackendCount = sizeof(kRenderBackendOrder) / sizeof(kRenderBackendOrder[0]);

namespace {

HMODULE s_d3d9Module = nullptr;
IDirectDraw7* s_directDraw = nullptr;

HMODULE s_ddrawHeld = nullptr;  // see DirectDrawAhead

void ReleaseDirectDraw()
{
    if (s_directDraw != nullptr) {
        s_directDraw->Release();
        s_directDraw = nullptr;
    }
    if (s_ddrawHeld != nullptr) {
        FreeLibrary(s_ddrawHeld);
        s_ddrawHeld = nullptr;
    }
}

}  // namespace

IDirectDraw7* GetDirectDrawObject() { return s_directDraw; }
HMODULE GetDirect3DModule() { return s_d3d9Module; }

DDCAPS* ClearDirectDrawCaps(DDCAPS* caps)
{
    ZeroMemory(caps, sizeof(*caps));
    return caps;
}

namespace {

// What making the DirectDraw object gave: the creation's and the initialisation's results.
struct DirectDrawMaking {
    HRESULT created;
    HRESULT initialised;
    IDirectDraw7* object;  // null when the creation failed
};

DirectDrawMaking MakeDirectDraw()
{
    DirectDrawMaking made{E_FAIL, E_FAIL, nullptr};
    void* object = nullptr;
    made.created = CoCreateInstance(CLSID_DirectDraw7, nullptr,
                                    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                    IID_IDirectDraw7, &object);
    if (SUCCEEDED(made.created) && object != nullptr) {
        made.object = static_cast<IDirectDraw7*>(object);
        made.initialised = made.object->Initialize(nullptr);
    }
    return made;
}

// Making the object loads and sets up the whole 3D stack under it, the longest step of the
// start-up. The start-up begins it on a thread of its own before the window and input come
// up, and graphics start takes what it made; the log lines stay where graphics start writes
// them.
struct DirectDrawAhead {
    HANDLE thread;
    HMODULE d3d9;   // loaded with it: the library's own load finds it ready
    HMODULE ddraw;  // held while the object lives, whatever COM unloads with the thread
    DirectDrawMaking made;
};
DirectDrawAhead s_ahead;

DWORD WINAPI MakeDirectDrawAhead(void*)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    s_ahead.d3d9 = LoadLibraryW(L"d3d9.dll");
    s_ahead.ddraw = LoadLibraryW(L"ddraw.dll");
    s_ahead.made = MakeDirectDraw();
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}

// Waits for the thread; true with what it made, false when nothing was begun.
bool TakeDirectDrawMadeAhead(DirectDrawMaking* made)
{
    if (s_ahead.thread == nullptr) {
        return false;
    }
    WaitForSingleObject(s_ahead.thread, INFINITE);
    CloseHandle(s_ahead.thread);
    if (s_ahead.d3d9 != nullptr) {
        FreeLibrary(s_ahead.d3d9);
    }
    *made = s_ahead.made;
    s_ddrawHeld = s_ahead.ddraw;
    s_ahead = DirectDrawAhead{};
    return true;
}

}  // namespace

void BeginDirectDrawAhead()
{
    if (s_ahead.thread != nullptr || s_directDraw != nullptr) {
        return;
    }
    s_ahead.thread = CreateThread(nullptr, 0, MakeDirectDrawAhead, nullptr, 0, nullptr);
}

void DiscardDirectDrawAhead()
{
    DirectDrawMaking made{};
    if (TakeDirectDrawMadeAhead(&made) && made.object != nullptr) {
        made.object->Release();
    }
    if (s_directDraw == nullptr && s_ddrawHeld != nullptr) {
        FreeLibrary(s_ddrawHeld);
        s_ddrawHeld = nullptr;
    }
}

int32_t CreateDirectDrawObject()
{
    ReleaseDirectDraw();
    AppendLog(L"DirectDraw オブジェクトの取得を行います....  ");
    DirectDrawMaking made{};
    if (!TakeDirectDrawMadeAhead(&made)) {
        made = MakeDirectDraw();
    }
    if (FAILED(made.created) || made.object == nullptr) {
        return AppendLog(L"オブジェクトの取得に失敗しました\n");
    }
    s_directDraw = made.object;
    AppendLog(L"成功\n");
    AppendLog(L"引き続き初期化処理... ");
    if (FAILED(made.initialised)) {
        AppendLog(L"DirectDrawオブジェクトの初期化に失敗しました\n");
        ReleaseDirectDraw();
        return -1;
    }
    AppendLog(L"初期化に成功しました\n");
    // The object only waits for vertical blanks, so it is bound to no window: under Wine a
    // DirectDraw object bound to the window that the Direct3D 9 device presents to takes the
    // window's drawing surface in turn with the device at every present, and the window is
    // then re-exposed and repainted hundreds of times a second.
    s_directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    return 0;
}

int32_t StartDirect3D()
{
    if (s_d3d9Module == nullptr) {
        s_d3d9Module = LoadLibraryW(L"d3d9.dll");
        if (s_d3d9Module == nullptr) {
            return AppendLog(L"d3d9.dll の読み込みに失敗しました\n");
        }
    }
    if (CreateDirectDrawObject() != 0) {
        FreeLibrary(s_d3d9Module);
        s_d3d9Module = nullptr;
        return -1;
    }
    // Each back end in turn until one starts; one that fails has released what it made. The
    // device back ends are skipped when the application asked for the software renderer.
    for (const RenderBackend* backend : kRenderBackendOrder) {
        if (backend->hardware && g_screenSettings.softwareOnly) {
            continue;
        }
        UseRenderBackend(backend);
        if (backend->start() == 0) {
            return 0;
        }
    }
    UseRenderBackend(&kSoftwareRenderBackend);
    return -1;
}

int32_t ShutDownDirect3D()
{
    const bool deviceSwitchedMode = g_screenSettings.hardwareActive && !g_screenSettings.doubled &&
                                    !g_screenSettings.displayFallback;
    CurrentRenderBackend()->stop();
    if (!g_system.windowed && !deviceSwitchedMode) {
        ChangeDisplaySettingsW(nullptr, 0);
    }
    UseRenderBackend(&kSoftwareRenderBackend);
    ReleaseDirectDraw();
    if (s_d3d9Module != nullptr) {
        FreeLibrary(s_d3d9Module);
        s_d3d9Module = nullptr;
    }
    FreeDisplayModeList();
    return 0;
}

int32_t ShutDownGraphicsCore()
{
    if (!g_screenSettings.started) {
        return 0;
    }
    DestroyAllGraphs();
    if (g_system.mainWindow != nullptr) {
        KillTimer(g_system.mainWindow, kFrontScreenTimerId);
    }
    ShutDownDirect3D();
    ResetGraphicsState();
    return 0;
}
