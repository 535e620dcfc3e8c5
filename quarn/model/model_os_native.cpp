// The native build has no device: the screen is never drawn through one.
#if !defined(_WIN32)

#include "quarn/core/screen_settings.h"
#include "quarn/model/model_os.h"

ModelDeviceFacts SystemModelDeviceFacts() { return ModelDeviceFacts{g_screenSettings.hardwareActive, 0, 0, 256, 256}; }

#endif
