// The sound system's state and the ten operations on a playback buffer, each over a device
// buffer or, with the software-mixing setting, over PCM in memory.
#include <cmath>

#include "quarn/core/core.h"
#include "quarn/sound/sound_os.h"
#include "quarn/sound/sound_state.h"

SoundSystemState g_soundSystem;
MidiPlaybackState g_midiPlayback;

void ResetSoundState()
{
    g_soundSystem = SoundSystemState{};
    g_midiPlayback = MidiPlaybackState{};
}

WaveFormat PrimaryBufferFormat(uint32_t capabilityFlags, uint32_t maxSecondaryRate)
{
    constexpr uint32_t kPrimaryStereo = 0x2;
    constexpr uint32_t kPrimary16Bit = 0x8;
    WaveFormat f{};
    f.formatTag = 1;  // PCM
    f.channels = (capabilityFlags & kPrimaryStereo) != 0 ? 2 : 1;
    const uint16_t bytesPerSample = (capabilityFlags & kPrimary16Bit) != 0 ? 2 : 1;
    f.bitsPerSample = static_cast<uint16_t>(8 * bytesPerSample);
    f.samplesPerSecond = maxSecondaryRate >= 44100 ? 44100 : maxSecondaryRate;
    f.blockAlign = static_cast<uint16_t>(bytesPerSample * f.channels);
    f.averageBytesPerSecond = f.blockAlign * f.samplesPerSecond;
    f.extraSize = 0;
    return f;
}

static const SoundOsApi* s_os;

const SoundOsApi* CurrentSoundOsApi() { return s_os != nullptr ? s_os : SystemSoundOsApi(); }

const SoundOsApi* SetSoundOsApi(const SoundOsApi* api)
{
    const SoundOsApi* previous = CurrentSoundOsApi();
    s_os = api;
    return previous;
}

namespace {
const SoundOsApi* Os() { return CurrentSoundOsApi(); }

bool InSoftware() { return g_soundSystem.softwareMixing != 0; }
}  // namespace

int32_t DecibelsToGain(int32_t hundredths)
{
    if (hundredths == -10000) {
        return 0;
    }
    if (hundredths == 0) {
        return 256;
    }
    // The exponent is rounded to single precision before the power is taken.
    const float exponent = static_cast<float>(hundredths / 10.0 / 100.0);
    const double gain = std::pow(10.0, static_cast<double>(exponent));
    return TruncateDoubleToInt(gain / 0.9999999999 * 256.0);
}

int32_t ReleaseBufferBackend(SoundBufferRecord* buffer)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        FreeTrackedMemory(buffer->data);
        buffer->data = nullptr;
    } else {
        if (buffer->directSoundBuffer != nullptr) {
            Os()->release(buffer->directSoundBuffer);
        }
        buffer->directSoundBuffer = nullptr;
    }
    buffer->present = 0;
    return 0;
}

int32_t StartBufferPlayback(SoundBufferRecord* buffer, int32_t loop)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        buffer->playing = 1;
        buffer->loop = loop;
        return 0;
    }
    return Os()->play(buffer->directSoundBuffer, loop != 0 ? 1 : 0);
}

int32_t HaltBufferPlayback(SoundBufferRecord* buffer)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        buffer->playing = 0;
    } else {
        Os()->stop(buffer->directSoundBuffer);
    }
    return 0;
}

int32_t QueryBufferStatus(SoundBufferRecord* buffer, uint32_t* status)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        if (status != nullptr) {
            *status = buffer->playing == 1 ? 1 : 0;
        }
        return 0;
    }
    return Os()->getStatus(buffer->directSoundBuffer, status);
}

int32_t LockBufferRegion(SoundBufferRecord* buffer, uint32_t offset, uint32_t count, uint8_t** part1, uint32_t* bytes1,
                         uint8_t** part2, uint32_t* bytes2)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (!InSoftware()) {
        return Os()->lock(buffer->directSoundBuffer, offset, count, part1, bytes1, part2, bytes2);
    }
    const uint32_t align = buffer->format.blockAlign;
    if (align == 0 || buffer->length < 0) {
        return -1;
    }
    const uint64_t length = static_cast<uint32_t>(buffer->length);
    const uint64_t first = offset / align;
    const uint64_t frames = count / align;
    // A range that starts past the data or is longer than it would have its parts reach
    // outside the block; the device refuses such a lock too.
    if (first >= length || frames > length || buffer->data == nullptr) {
        return -1;
    }
    *part1 = buffer->data + offset;
    if (first + frames > length) {
        *bytes1 = static_cast<uint32_t>((length - first) * align);
        *part2 = buffer->data;
        *bytes2 = static_cast<uint32_t>((frames - (length - first)) * align);
    } else {
        *bytes1 = count;
        *part2 = nullptr;
        *bytes2 = 0;
    }
    return 0;
}

int32_t UnlockBufferRegion(SoundBufferRecord* buffer, uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        return 0;
    }
    return Os()->unlock(buffer->directSoundBuffer, part1, bytes1, part2, bytes2);
}

int32_t SetBufferRate(SoundBufferRecord* buffer, int32_t frequency)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        buffer->frequency = frequency == 0 ? -1 : frequency;
    } else {
        Os()->setFrequency(buffer->directSoundBuffer, static_cast<uint32_t>(frequency));
    }
    return 0;
}

int32_t SetBufferBalance(SoundBufferRecord* buffer, int32_t pan)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (!InSoftware()) {
        Os()->setPan(buffer->directSoundBuffer, pan);
    } else if (pan == -10000) {
        buffer->pan = -256;
    } else if (pan == 10000) {
        buffer->pan = 256;
    } else if (pan == 0) {
        buffer->pan = 0;
    } else {
        // The side away from the pan loses the level the pan names.
        const int32_t magnitude = DecibelsToGain(-AbsoluteInt(pan));
        buffer->pan = pan > 0 ? magnitude : -magnitude;
    }
    return 0;
}

int32_t SetBufferGain(SoundBufferRecord* buffer, int32_t volume)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        buffer->volume = DecibelsToGain(volume);
    } else {
        Os()->setVolume(buffer->directSoundBuffer, volume);
    }
    return 0;
}

int32_t SetBufferCursor(SoundBufferRecord* buffer, uint32_t bytePosition)
{
    if (buffer->present == 0) {
        return -1;
    }
    if (InSoftware()) {
        if (buffer->format.blockAlign == 0) {
            return -1;
        }
        buffer->cursor = bytePosition / buffer->format.blockAlign;
    } else {
        Os()->setPosition(buffer->directSoundBuffer, bytePosition);
    }
    return 0;
}

int32_t FramesToMs(int32_t frames, int32_t rate)
{
    const uint64_t widenedFrames = static_cast<uint64_t>(static_cast<int64_t>(frames));
    const uint64_t thousand = 1000;
    const uint64_t widenedRate = static_cast<uint64_t>(static_cast<int64_t>(rate));
    UInt128 product{};
    Multiply64To128(&widenedFrames, &thousand, &product);
    uint64_t quotient = 0;
    Divide128By64(&product, &widenedRate, &quotient);
    return static_cast<int32_t>(static_cast<uint32_t>(quotient));
}
