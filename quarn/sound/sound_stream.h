// Sound handles (type 2) and their streaming, and the converters that turn a source's data
// into PCM. Portable: the device calls go through sound_os.h, the data through the library's
// stream tables, so all of this builds and is tested natively too.
#pragma once

#include <cstdint>

#include "quarn/core/core.h"
#include "quarn/core/files.h"
#include "quarn/core/handle.h"
#include "quarn/sound/sound_state.h"

// ---- Converters

// The writable range of a ring buffer that one lock gives, in up to two parts; the second
// part, when there is one, starts at ring offset 0. The writers keep the counts.
struct LockedRegion {
    uint32_t offset;
    uint8_t* part1;
    uint8_t* part2;
    uint32_t length1;
    uint32_t length2;
    uint32_t written1;
    uint32_t written2;
    uint32_t left1;
    uint32_t left2;
};

// The ring offset at which the next byte written into the region lands.
uint32_t RegionNextOffset(const LockedRegion* region);

// Where the region takes its next bytes: the first part while it has room, then the second.
struct RegionPart {
    uint8_t* at;     // the next byte to write
    uint32_t room;   // bytes left in this part
    uint32_t* left;  // the part's counts, which the writer advances with AdvanceRegion
    uint32_t* written;
};
// False when both parts are full.
bool NextRegionPart(LockedRegion* region, RegionPart* part);
void AdvanceRegion(const RegionPart* part, uint32_t bytes);

enum SoundConverterKind : int32_t {
    kConvertPcmStream = 0,
    kConvertAcm = 1,
    kConvertVorbis = 2,
    kConvertMemoryPcm = 3,
};

// Hands out one source's PCM in any byte counts through a work buffer that its kind refills.
struct SoundConverter {
    int32_t inUse;
    int32_t ended;  // the input ran out while bytes were wanted; reads give 0 until a seek
    int32_t kind;
    StreamFunctionTable stream;
    StreamHandle streamHandle;
    int32_t dataStart;  // kind 0: stream offset of the first PCM byte
    int32_t dataSize;   // kind 0: bytes of PCM
    WaveFormat output;  // the PCM delivered; its block align turns frames into bytes
    // Kind 2: the decoder's state, opened over the stream above (sound_vorbis.cpp).
    int32_t vorbisOpen;
    void* vorbisFile;
    int32_t sampleWordSize;  // 1 for 8-bit samples, 2 for 16-bit
    // Kind 1: the compressed data held whole, a main ACM stream that delivers and a stand-by
    // one that trails it, kept near the stand-by target so that a seek back there only
    // converts forward from it.
    void* acmSourceFormat;  // owned: the data's WAVEFORMATEX with its extra bytes
    uintptr_t acmMain;
    uintptr_t acmStandby;
    uint8_t* compressed;  // owned
    int32_t compressedSize;
    int32_t mainPosition;
    int32_t standbyPosition;
    int32_t standbyProduced;
    uint8_t* scratch;  // owned, the stand-by's output, at least the work buffer's size
    int32_t standbyTarget;
    // Kind 3.
    uint8_t* memoryData;  // owned
    int32_t memorySize;
    int32_t memoryPosition;
    uint8_t* work;  // owned
    int32_t workSize;
    int32_t workLeft;
    int32_t workOffset;
    int32_t position;  // PCM bytes handed out from the data's start
};

// Bytes delivered (at most count); 0 once ended or for count 0; -1 for an empty record.
int32_t ReadConverter(SoundConverter* c, void* destination, int32_t count);
// Reads up to count bytes into the region's room, first part first; the bytes written.
uint32_t ReadConverterIntoRegion(LockedRegion* region, SoundConverter* converter, uint32_t count);
// Moves the converter to a sample frame; a move of less than 16 bytes changes nothing. 0; a
// frame before the data reads from its first byte; -1, and the converter stays as it was,
// for a frame past the data's end (or past 2^31 bytes where the kind does not know its end).
int32_t SeekConverter(SoundConverter* c, int32_t frame);
// Frees what the converter owns and empties it. 0; -1 for an empty record.
int32_t ReleaseConverter(SoundConverter* c);

// Where a WAVE stream's PCM lies and its format.
struct WaveHeaderInfo {
    WaveFormat format;
    int32_t dataStart;     // stream offset of the data chunk's first byte
    int32_t dataSize;      // bytes, as the chunk states them
    int32_t formatStart;   // stream offset of the format chunk's body
    uint32_t formatBytes;  // its size
};
// Walks the RIFF chunks from the stream's position to the data chunk, which is left at the
// read position. 0, or -1 with a log line for a stream that is not a usable WAVE: no RIFF
// WAVE header, a format chunk shorter than 16 bytes or with no channels, rate or block
// align, data before the format, a chunk that runs past the stream.
int32_t ParseWaveHeader(const StreamFunctionTable* s, StreamHandle h, WaveHeaderInfo* info);
// Opens the converter's stream (its table and handle set) as WAVE with a work buffer of
// workSize bytes: plain PCM of 8 or 16 bits as kind 0, other formats (Windows only) as kind
// 1 through the ACM. 0 and in use, or -1 with a log line.
int32_t OpenWaveConverter(SoundConverter* c, int32_t workSize);

// Opens the converter's stream (its table and handle set) as Ogg Vorbis with 16-bit output
// and a work buffer of workSize bytes (at least one stereo frame, 4): kind 2, in use. 0, or
// -1 with a log line for a smaller work buffer, data that is not Ogg Vorbis or a format that
// cannot be played (more than two channels).
int32_t OpenVorbisConverter(SoundConverter* c, int32_t workSize);
// The decoder kind's refill, seek and close (sound_vorbis.cpp).
int32_t ReadVorbisPcm(SoundConverter* c);
// The same for compressed WAVE data through the system's ACM (sound_acm.cpp; natively none).
int32_t ConvertAcmBlock(SoundConverter* c);
int32_t SeekAcmSource(SoundConverter* c, int32_t frame);
int32_t FreeAcmConverter(SoundConverter* c);
// Compressed WAVE: fmt chunk of formatBytes at formatStart, data of dataSize at the stream's
// position. 0, or -1 with a log line when no codec converts it to PCM.
int32_t OpenAcmConverter(SoundConverter* c, int32_t formatStart, uint32_t formatBytes, int32_t dataSize,
                         int32_t workSize);
int32_t SeekVorbisPcm(SoundConverter* c, int32_t frame);
int32_t CloseVorbisSource(SoundConverter* c);

// ---- Sound records

struct StreamSource {
    int8_t loopCount;            // -1 endless; 0..127 repeats after the first run; other negatives once
    int32_t kind;                // 3: the converter reads a stream of its own, closed with the sound
    void* dataBlock;             // owned, freed with the sound
    StreamFunctionTable stream;  // only its close is used, when the handle is not 0
    StreamHandle streamHandle;
    int32_t loopStartFrame;
    int32_t endFrame;  // -1: at the end of the data
    SoundConverter converter;
};

constexpr int32_t kSoundBufferSlots = 10;
constexpr int32_t kStreamSourceSlots = 4;
constexpr int32_t kWriteNotFilled = -800;

struct SoundRecord {
    uint32_t check;
    SoundBufferRecord buffers[kSoundBufferSlots];  // a stream rings through the first
    WaveFormat format;
    int32_t kind;           // 0 held in memory, 1 streaming
    int32_t playType;       // of the last start of a stream
    int32_t ownerHandle;    // the sound whose ring this stream plays through, -1 its own
    int32_t sharerCount;    // streams playing through this sound's ring
    int32_t claimerHandle;  // the stream holding this sound's ring, -1 none
    int32_t deletePending;
    uint32_t ringSize;
    int32_t writePosition;  // kWriteNotFilled while armed and not yet filled
    int32_t windowStart;
    StreamSource sources[kStreamSourceSlots];
    uint8_t sourceCloseFlags[kStreamSourceSlots];
    int32_t sourceCount;
    int32_t currentSource;
    int32_t plays;
    int32_t sourcePosition;
    int32_t totalFrames;
    uint32_t playPosition;
    uint32_t lastCursor;
    uint8_t refillArmed;
    uint8_t endWritten;
    uint8_t loopPointPending;
    uint8_t lastSourcePassed;
    uint32_t loopStartBytes;
    uint32_t endPosition;
    uint32_t cursorAtEnd;
    uint32_t loopPoint;
    HandleChainNode streamNode;  // in the sound thread's stream list, data = this record
    int32_t dataSize;            // held in memory: bytes of PCM
    void* sharedData;
    uint32_t* sharedCount;
    int32_t bufferCount;
    int32_t currentBuffer;
    int32_t volume, pan, frequency;
    uint8_t oneShotVolumeSet, oneShotPanSet, oneShotFrequencySet;
    int32_t oneShotVolume, oneShotPan, oneShotFrequency;
};

constexpr int32_t kSoundCapacity = 32768;
HandleTable* SoundTable();

// The sizes of a stream's ring for its format: one second, an eighth of a second, the first
// fill of three quarters of a second, and the write window's length.
struct StreamRingSizes {
    uint32_t ringSize;
    uint32_t eighth;
    uint32_t firstFill;
    uint32_t windowLength;
};
StreamRingSizes ComputeStreamRingSizes(const WaveFormat& format);

// Puts a record allocated zeroed with the library allocator, its fields filled, into the
// table: gives it its check number and links a stream into the sound thread's list, under
// the sound lock. The handle, or -1 when the table is full or the sound system is not started.
int32_t RegisterSoundRecord(SoundRecord* record);

// Play types: 3 loops, 0 plays once and waits for the end, others play once and return.
int32_t StartSoundHandle(int32_t handle, int32_t playType, int32_t fromTop);
int32_t PrepareStreamPlay(int32_t handle, int32_t playType, int32_t fromTop);
int32_t HaltSoundHandle(int32_t handle);
int32_t HaltStreamHandle(int32_t handle);
int32_t QuerySoundPlaying(int32_t handle);
int32_t QueryStreamPlaying(int32_t handle);
int32_t CountSoundFrames(int32_t handle);
int32_t MeasureSoundLengthMs(int32_t handle);
int32_t MeasureSoundPlayMs(int32_t handle);
int32_t MeasureStreamTimeMs(int32_t handle);
int32_t DestroySoundHandle(int32_t handle, int32_t unused);
int32_t DestroyAllSoundHandles(int32_t unused);
int32_t RefillStreamBuffer(int32_t handle);
int32_t PrimeStreamPlay(int32_t handle);
// cursor 0xFFFFFFFF: read it from the ring buffer.
int32_t UpdateStreamPlayPosition(int32_t handle, uint32_t cursor);

void WriteSilenceToRegion(const SoundRecord* sound, LockedRegion* region, uint32_t count);

// The stream half of the sound thread's pass: one refill for every armed stream of the list.
// The caller holds the sound lock.
void RefillArmedStreams();
