// Renderer start and end: "d3d9.dll", the vertical-blank object, the choice between the
// hardware renderer and the software screen, and the graphics subsystem's end (the fonts
// end before it, in the runtime).
#include <windows.h>

#include <ddraw.h>

#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics_win.h"
#include "quarn/graphics/render_backend.h"

namespace {

HMODULE s_d3d9Module = nullptr;
IDirectDraw7* s_directDraw = nullptr;

void ReleaseDirectDraw()
{
    if (s_directDraw != nullptr) {
        s_directDraw->Release();
        s_directDraw = nullptr;
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

int32_t CreateDirectDrawObject()
{
    ReleaseDirectDraw();
    AppendLog(L"DirectDraw オブジェクトの取得を行います....  ");
    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_DirectDraw7, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER |
                                                            CLSCTX_LOCAL_SERVER,
                                IID_IDirectDraw7, &object)) ||
        object == nullptr) {
        return AppendLog(L"オブジェクトの取得に失敗しました\n");
    }
    s_directDraw = static_cast<IDirectDraw7*>(object);
    AppendLog(L"成功\n");
    AppendLog(L"引き続き初期化処理... ");
    if (FAILED(s_directDraw->Initialize(nullptr))) {
        AppendLog(L"DirectDrawオブジェクトの初期化に失敗しました\n");
        ReleaseDirectDraw();
        return -1;
    }
    AppendLog(L"初期化に成功しました\n");
    s_directDraw->SetCooperativeLevel(QueryMainWindow(), DDSCL_NORMAL);
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
    UseRenderBackend(&kSoftwareRenderBackend);
    if (!g_screenSettings.softwareOnly && g_screenSettings.hardwareAsked) {
        bool tryDevice = true;
        if (!g_system.windowed && g_systemCapability.osCode >= kOsVista &&
            (g_screenSettings.displayFallback || g_screenSettings.doubled)) {
            tryDevice = SwitchDisplaySettings() == 0;
        }
        // A device back end creates its objects and device here; on any failure it has
        // released them again and the software screen takes over below.
        if (tryDevice && StartDeviceRenderBackend() == 0) {
            return 0;
        }
    }
    return CurrentRenderBackend()->start();
}

int32_t StartSoftwareScreen()
{
    if (!g_system.windowed && SwitchDisplaySettings() < 0) {
        return -1;
    }
    MeasureRefreshPeriod();
    return 0;
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
    ReleaseSoftwareScreen();
    g_screenSettings.started = 0;
    return 0;
}
