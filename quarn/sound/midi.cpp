#include "quarn/sound/sound.h"

#include <dmusici.h>
#include <mmsystem.h>

#include "quarn/system/system.h"

static FixedHandleTable<kMidiCapacity> s_midiTable{kHandleTypeMidi, kSlotHighWaterFirst};

HandleTable* MidiTable() { return s_midiTable.get(); }

static MciSendCommandFunction s_mciSendCommand;

MciSendCommandFunction SetMciSendCommand(MciSendCommandFunction function)
{
    MciSendCommandFunction previous = s_mciSendCommand != nullptr ? s_mciSendCommand : mciSendCommandW;
    s_mciSendCommand = function;
    return previous;
}

namespace {
MCIERROR SendMci(UINT message, DWORD_PTR flags, DWORD_PTR parameters)
{
    MciSendCommandFunction send = s_mciSendCommand != nullptr ? s_mciSendCommand : mciSendCommandW;
    return send(g_midiPlayback.mciDevice, message, flags, parameters);
}
}  // namespace

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
        SendMci(MCI_PLAY, MCI_NOTIFY | MCI_FROM, reinterpret_cast<DWORD_PTR>(&play));
        g_midiPlayback.playing = 1;
    } else if (g_midiPlayback.playing == 1) {
        SendMci(MCI_CLOSE, 0, 0);
        g_midiPlayback.playing = 0;
    }
    return 0;
}

namespace {
MidiRecord* FindMidi(int32_t handle)
{
    auto* record = FindHandleRecordAs<MidiRecord>(MidiTable(), handle);
    if (record == nullptr || record->check != static_cast<uint32_t>(HandleCheckOf(handle))) {
        return nullptr;
    }
    return record;
}
}  // namespace

int32_t QueryMidiState(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    MidiRecord* midi = FindMidi(handle);
    if (midi == nullptr) {
        return -1;
    }
    if (g_soundSystem.midiMode == 0) {
        return g_midiPlayback.playing;
    }
    return g_soundSystem.midiMode == 1 ? midi->playing : 0;
}

int32_t HaltMidiHandle(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    MidiRecord* midi = FindMidi(handle);
    if (midi == nullptr) {
        return -1;
    }
    g_midiPlayback.loop = 0;
    if (g_soundSystem.midiMode == 0) {
        HandleMidiNotify();
        // Notifications already posted arrive while the loop flag is 0 and change nothing.
        for (int i = 0; i < 5; ++i) {
            PumpWindowMessages();
        }
    } else if (g_soundSystem.musicPerformance != nullptr && midi->segment != nullptr) {
        g_soundSystem.musicPerformance->StopEx(midi->segment, 0, 0);
    }
    if (g_midiPlayback.tempFileExists == 1) {
        DeleteFileW(g_soundSystem.tempMidiPath);
        g_midiPlayback.tempFileExists = 0;
    }
    midi->playing = 0;
    midi->started = 0;
    return 0;
}

int32_t DestroyMidiHandle(int32_t handle)
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    MidiRecord* midi = FindMidi(handle);
    if (midi == nullptr) {
        return -1;
    }
    if (QueryMidiState(handle) == 1) {
        HaltMidiHandle(handle);
    }
    if (midi->segment != nullptr) {
        if (g_soundSystem.musicPerformance != nullptr) {
            midi->segment->Unload(g_soundSystem.musicPerformance);
        }
        if (g_soundSystem.musicLoader != nullptr) {
            g_soundSystem.musicLoader->ReleaseObjectByUnknown(midi->segment);
        }
        midi->segment->Release();
        midi->segment = nullptr;
    }
    if (midi->data != nullptr) {
        FillBytes(midi->data, 0, midi->dataSize);
        FreeTrackedMemory(midi->data);
        midi->data = nullptr;
    }
    RemoveHandleRecord(MidiTable(), handle);
    FreeTrackedMemory(midi);
    return 0;
}

int32_t DestroyAllMidiHandles()
{
    if (!IsSoundSystemStarted()) {
        return -1;
    }
    HandleTable* table = MidiTable();
    for (int32_t slot = 0; slot < kMidiCapacity; ++slot) {
        if (table->slots[slot].record != nullptr) {
            DestroyMidiHandle(HandleOfSlot(table, slot));
        }
    }
    return 0;
}

int32_t EndCurrentMusic()
{
    const int32_t handle = g_midiPlayback.currentMusic;
    if (handle == 0) {
        return 0;
    }
    if (g_midiPlayback.currentMusicKind == 1) {
        HaltSoundHandle(handle);
        DestroySoundHandle(handle, 0);
    } else {
        HaltMidiHandle(handle);
        DestroyMidiHandle(handle);
    }
    g_midiPlayback.currentMusic = 0;
    return 0;
}
