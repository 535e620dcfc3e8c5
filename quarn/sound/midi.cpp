#include "quarn/sound/sound.h"

#include <dmusici.h>
#include <mmsystem.h>

#include "quarn/system/system.h"

MidiPlaybackState g_midiPlayback;

static FixedHandleTable<kMidiCapacity> s_midiTable{kHandleTypeMidi, kSlotHighWaterFirst};

HandleTable* MidiTable() { return s_midiTable.get(); }

int32_t PollMidiPlayState()
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    if (g_soundSystem.midiMode != 1 || g_soundSystem.musicPerformance == nullptr) {
        return 0;
    }
    HandleTable* table = MidiTable();
    for (int32_t slot = 0; slot < table->highWater; ++slot) {
        auto* midi = static_cast<MidiRecord*>(table->slots[slot].record);
        if (midi == nullptr || !midi->playing) {
            continue;
        }
        const HRESULT answer = g_soundSystem.musicPerformance->IsPlaying(midi->segment, nullptr);
        const int32_t now = answer == S_FALSE ? 0 : 1;
        if (midi->started == 1) {
            midi->playing = now;
        } else if (now == 1) {
            midi->started = 1;
        }
    }
    return 0;
}

int32_t HandleMidiNotify()
{
    if (g_midiPlayback.loop == 1) {
        MCI_PLAY_PARMS play{};
        play.dwCallback = reinterpret_cast<DWORD_PTR>(QueryMainWindow());
        play.dwFrom = 0;
        mciSendCommandW(g_midiPlayback.mciDevice, MCI_PLAY, MCI_NOTIFY | MCI_FROM,
                        reinterpret_cast<DWORD_PTR>(&play));
        g_midiPlayback.playing = 1;
    } else if (g_midiPlayback.playing == 1) {
        mciSendCommandW(g_midiPlayback.mciDevice, MCI_CLOSE, 0, 0);
        g_midiPlayback.playing = 0;
    }
    return 0;
}
