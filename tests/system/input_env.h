// What the input tests control of the library around input.
#pragma once

#include <windows.h>

#include <cstdint>

struct TestInputEnvironment {
    int32_t active;
    int32_t closePosted;
    HWND window;
};
extern TestInputEnvironment g_testEnv;
