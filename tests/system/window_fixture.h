// Starting the library's window in a test the way the application does.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quarn/core/screen_settings.h"
#include "quarn/runtime/runtime.h"
#include "quarn/system/system.h"
#include "tests/core/log_capture.h"

// Removes whatever is left in this thread's queue, WM_QUIT included.
inline void DrainQueue()
{
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// Fresh screen settings holding only the application's 300 x 60 x 32 screen, as the window
// reads them when no graphics are started.
inline void UseApplicationScreenSize()
{
    ResetScreenSettings();
    g_screenSettings.width = 300;
    g_screenSettings.height = 60;
    g_screenSettings.colorBits = 32;
}

// The application's window settings before start-up: window mode, always running, and the
// title when one is given.
inline void UseApplicationWindowSettings(const wchar_t* title)
{
    ChangeWindowMode(1);
    SetRunWhileInactive(1);
    if (title != nullptr) {
        AssignWindowTitle(title);
    }
}

// Starts a window of the application's settings.
inline void StartWindowed(const wchar_t* title)
{
    UseApplicationWindowSettings(title);
    ASSERT_EQ(StartMainWindow(), 0);
    ASSERT_NE(QueryMainWindow(), nullptr);
}

// Each test starts from the state of a fresh process, with the window as the library's start-up
// has it: the runtime's pump work and handlers. The log goes into the text the test names.
class FreshWindowTest : public ::testing::Test {
protected:
    explicit FreshWindowTest(std::wstring* logText) : logText_(logText) {}
    void SetUp() override
    {
        ResetSystemState();
        RegisterRuntimeWindowHandlers();
        UseApplicationScreenSize();
        CaptureLogInto(logText_);
        DrainQueue();
    }
    void TearDown() override
    {
        EndMainWindow();
        DrainQueue();
        SetLogCapture(nullptr, nullptr);
    }
    // Pumps until the queue holds nothing the window still has to handle.
    void Settle()
    {
        for (int i = 0; i < 50; ++i) {
            PumpWindowMessages();
        }
    }

private:
    std::wstring* logText_;
};
