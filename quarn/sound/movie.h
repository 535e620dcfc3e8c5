// Movie handles (type 3) and the Ogg video decoder interface. Portable: the DirectShow,
// DirectDraw-overlay, window and clock calls sit behind movie_os.h, the decoder over libogg and
// libtheora needs no operating system, so all of it builds and is tested natively too.
#pragma once

#include <theora/theora.h>

#include <cstdint>

#include "quarn/core/files.h"
#include "quarn/core/handle.h"
#include "quarn/core/rect.h"
#include "quarn/image/image.h"

struct IUnknown;
struct OggVideoDecoder;

// ---- Movie records

// The shared state of a DirectShow graph's frame-receiving filter, as far as the movie uses it.
struct MovieFrameReceiver {
    void* frameBuffer;
    uint32_t newFrame;
    int32_t frameWidth;
    int32_t frameHeight;
    int32_t framePitch;
};

struct MovieOverlayState {
    int32_t x, y, magnification;
    uint32_t shown;
    PixelRect source;  // what was last given to the overlay
    PixelRect destination;
};

// Indexes of the DirectShow interfaces a movie holds; the others are the graph's own.
enum MovieInterface : int32_t {
    kMovieOverlaySurface = 6,
    kMovieMediaControl = 10,
    kMovieMediaSeeking = 11,
    kMovieInterfaceCount = 13,
};

constexpr uint32_t kMoviePlayLoop = 2;  // play-mode bit: the movie starts again at its end

struct MovieRecord;
using MovieFrameCallback = void (*)(MovieRecord* movie, uint32_t userData);

struct MovieRecord {
    uint32_t check;
    uint32_t playMode;  // kMoviePlayLoop: loops; also the play type of the movie sound
    uint32_t ogg;       // nonzero: decoded by the library's Ogg video decoder
    OggVideoDecoder* decoder;
    int64_t startTime;     // microseconds on the library clock at which frame 0 was due
    FileHandle movieFile;  // the decoder's file, 0 when none
    int32_t movieSound;    // -1 when none; its play position times the frames
    IUnknown* interfaces[kMovieInterfaceCount];
    MovieFrameReceiver* frameReceiver;
    int64_t stopPosition;  // 100 ns units: where a DirectShow movie has ended
    int32_t width, height;
    uint32_t playing;
    uint32_t stopped;
    uint32_t frameReady;
    uint32_t overlay;
    uint32_t tempFile;
    wchar_t tempFilePath[260];
    void* event;
    BaseImage frameImage;
    BaseImage* currentFrameImage;
    // 1 while the frame image's pixels are the record's own block. A DirectShow frame lends
    // the frame receiver's buffer, which the receiver frees.
    uint32_t ownsFramePixels;
    MovieOverlayState overlayState;
    MovieFrameCallback frameCallback;
    uint32_t callbackUserData;
};

constexpr int32_t kMovieCapacity = 100;
HandleTable* MovieTable();
// Open movies; DestroyMovie lowers it.
extern int32_t g_openMovieCount;

// Stops the decoder and the sound, deletes a temporary file, hides the overlay, releases the
// interfaces and frees the record. 0, or -1 for a bad handle.
int32_t DestroyMovie(int32_t handle);
// Brings the movie to the frame that is due and calls its frame callback. 0 always.
int32_t AdvanceMovieFrame(int32_t handle);
// Pauses the movie; keepPlaying 1 keeps its playing flag so that a resume restarts it.
int32_t SuspendMovie(int32_t handle, uint32_t keepPlaying);
// Window-procedure hooks on deactivation and activation. 0.
int32_t SuspendAllMovies();
int32_t ResumeSuspendedMovies();
// Shows or moves the movie's overlay; 0, or -1 for a bad handle.
int32_t ShowMovieOverlay(int32_t x, int32_t y, int32_t magnification, int32_t handle, uint32_t shown);
// Message-pump hook while the window is inactive: re-shows every overlay. 0.
int32_t RefreshMovieOverlays();

// The alignment an overlay's rectangles must keep (DDCAPS bits and values); the system's
// capability record is all zero, so no alignment applies there.
struct MovieOverlayCaps {
    uint32_t caps;  // 2 boundary dest, 4 size dest, 8 boundary source, 0x10 size source
    uint32_t alignBoundarySource, alignSizeSource, alignBoundaryDestination, alignSizeDestination;
};

// The overlay rectangles of a width x height movie shown at (x, y) in client coordinates,
// magnified (at least 1): clip is the window's visible box in client coordinates (null when
// unrestricted), drawArea the client area on the screen. False when nothing is left to show.
bool ComputeMovieOverlayRects(int32_t x, int32_t y, int32_t magnification, int32_t width, int32_t height,
                              const PixelRect* clip, const PixelRect& drawArea, const MovieOverlayCaps& caps,
                              PixelRect* source, PixelRect* destination);

// The Ogg frame due elapsedUs after frame 0 at framesPerSecond in a movie of frameCount frames:
// past the end a looping movie wraps, any other stays on the last frame. -1 when the movie
// has no frames or no frame rate to choose by.
int32_t ChooseDueOggFrame(int64_t elapsedUs, double framesPerSecond, int32_t frameCount, bool wrap);
// The time the movie sound has played, in microseconds, from its play position in ms.
int64_t MovieSoundElapsedUs(int32_t playMs);

// ---- The Ogg video decoder

// One decoded picture waiting for conversion: its three planes (the decoder's own copies).
struct OggVideoFrameSlot {
    uint8_t* planes[3];  // Y, Cb, Cr
    int32_t frame;       // its number, -1 while empty
    int32_t widths[2];   // luma, chroma
    int32_t heights[2];
    int32_t strides[2];
    int32_t spare;
};
static_assert(sizeof(void*) != 4 || sizeof(OggVideoFrameSlot) == 44, "a frame slot is 44 bytes in the 32-bit build");

struct OggVideoDecoder {
    volatile uint32_t state;     // 3 once the decoding thread has finished
    volatile uint32_t stopFlag;  // 1 asks the decoding thread to finish
    void* thread;
    ogg_sync_state sync;
    ogg_stream_state stream;
    theora_info info;
    theora_comment comment;
    theora_state theora;
    uint8_t* workBuffers[2];  // [0] the movie's bytes
    int64_t frameCount;
    int32_t currentFrame;
    OggVideoFrameSlot* frameSlots;
    int32_t frameSlotCount;
    BaseImage frameImage;  // 32-bit XRGB, the picture of frameSlots[0]
    IUnknown* comObject;
    uint32_t readyFlags[2];  // [0] the slot holds the current frame, [1] the image shows it
    // The decoding side's own state.
    uint32_t dataSize;       // bytes in workBuffers[0]
    uint32_t readOffset;     // bytes handed to the sync layer
    int32_t serial;          // the video stream's serial number
    int32_t decodedFrame;    // the frame the theora state holds, -1 before the first
    uint32_t theoraStarted;  // the theora state is initialised
    uint32_t pictureMade;    // a packet with a picture was decoded: libtheora has a picture to give
};

// The largest picture side the decoder takes; larger headers are refused.
constexpr int32_t kOggVideoMaxSide = 4096;

// Colour conversion: clamp table for -512..767 and the five BT.601 rows (14 fraction bits).
extern uint8_t g_yuvClampTable[1280];
extern int32_t g_yuvRows[5][256];  // red from Cr, green from Cb, green from Cr, blue from Cb, luma
int32_t BuildYuvToRgbTables();
// One 4:2:0 picture into 32-bit XRGB (blue, green, red, 255 in memory) through the tables.
// chromaX and chromaY (0 or 1) say whether the picture starts on the second pixel of a
// chroma pair across or down: pixel (x, row) takes chroma ((x + chromaX) / 2, (row + chromaY) / 2).
void ConvertYuv420ToXrgb(const uint8_t* y, int32_t yStride, const uint8_t* cb, const uint8_t* cr, int32_t chromaStride,
                         int32_t chromaX, int32_t chromaY, int32_t width, int32_t height, uint8_t* out,
                         int32_t outPitch);

// Reads the stream's headers from a copy of bytes and counts its frames; null, with a log
// line, when the bytes hold no Theora stream the decoder takes. The current frame is 0.
OggVideoDecoder* OpenOggVideoDecoder(const uint8_t* bytes, uint32_t size);
// Decodes up to the current frame and converts it into the frame image; 0, or -1 when the
// stream gives no such frame (the image then keeps what it showed).
int32_t DecodeOggVideoFrame(OggVideoDecoder* decoder);
// Stops the decoding thread, frees the slots, buffers and image, clears the libogg and
// libtheora state and frees the record. 0.
int32_t CloseOggVideoDecoder(OggVideoDecoder* decoder);
// Moves the current frame n forward (wrapping at the end); n below 1 changes nothing. 0.
int32_t SkipOggVideoFrames(OggVideoDecoder* decoder, int32_t n);
struct OggVideoInfo {
    double framesPerSecond;
    int32_t frameCount;
    int32_t width, height;
};
int32_t GetOggVideoInfo(OggVideoDecoder* decoder, OggVideoInfo* info);
int32_t GetOggVideoFrame(OggVideoDecoder* decoder);
