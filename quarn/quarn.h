// The Quarn library: what an application calls.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------------------

// Starts the library with the settings made so far: window, input, graphics and the rest.
// 0 (also when it has started already), or -1 when it cannot start; it is not retried.
int InitializeLibrary();

// ---------------------------------------------------------------------------------------
// Log, clocks and random numbers
// ---------------------------------------------------------------------------------------

// 0 switches the log ("Log.txt" and the debugger output) off; call before start-up.
int EnableLogFile(int flag);
// Appends text to the log; "\n" ends a line. Always returns -1.
int AppendLog(const wchar_t* text);
// printf-style (%ls for wide strings); a line break is added. Always returns -1.
int AppendLogFormat(const wchar_t* format, ...);
// One tab more, or less, at the start of the following log lines.
int PushLogIndent();
int PopLogIndent();
// Writes the library's live memory blocks to the log.
void DumpMemoryRecords();

// Milliseconds of the system clock, 0 to 0x7FFFFFFF (wrapping to 0).
int32_t ReadMillisecondClock();
// Microseconds; 1 allows the processor's own clock once the library has started.
int64_t ReadMicrosecondClock(int useProcessorClock);

// Restarts the random numbers from a seed (the library seeds them at start-up).
void SeedRandomGenerator(uint32_t seed);
// The next random 32-bit word.
uint32_t DrawRandomWord();

// ---------------------------------------------------------------------------------------
// Window and message loop
// ---------------------------------------------------------------------------------------

// Processes waiting window messages (at most five a call) and the library's per-frame work.
// 0 to go on, -1 once the program is to end.
int PumpLibraryMessages();
// 1 windowed, 0 full screen. Before start-up only stores the wish.
int ChangeWindowMode(int windowed);
// The window's text (and, when set before start-up, its class name).
int AssignWindowTitle(const wchar_t* text);
// Icon resource of the window; 0 for the system's application icon.
int AssignWindowIcon(int id);
// 1: the program keeps running while its window is inactive.
int SetRunWhileInactive(int flag);
// The window-size factors; returns the horizontal one. Either pointer may be null.
double QueryWindowScaleRate(double* x, double* y);
// The mouse position on the screen picture. Either pointer may be null.
int QueryMousePosition(int* x, int* y);
// Copies the clipboard's text into dst (capacity units, terminator included; longer text
// is cut) and returns 0; with dst null returns the clipboard block's byte size + 1. -1
// when the clipboard holds no text or cannot be opened.
int GetClipboardText(wchar_t* dst, int capacity);
// Puts the text on the clipboard. 0, or -1 when it could not.
int SetClipboardText(const wchar_t* text);
// 1 shows, 0 hides the mouse cursor over the window; -1 re-applies the current wish.
int SetMouseCursorVisible(int flag);

// ---------------------------------------------------------------------------------------
// Keyboard, mouse, joypads and key input
// ---------------------------------------------------------------------------------------

// 1 while the key with this DirectInput key code (0 to 255; F5 is 0x3F) is down, else 0.
int TestKeyPressed(int dikCode);

// Joypads are numbered from 1. Adding kPadWithKeyboard to a number also reads the keys
// that the pad's key map assigns (pad 1: cursor keys and numeric pad, Z X C A S D Q W,
// Escape, Space).
constexpr int kPadWithKeyboard = 0x1000;
// Bits of QueryPadInputState: four directions, then buttons 0 to 27 from bit 4 on.
constexpr int kPadDown = 1 << 0;
constexpr int kPadLeft = 1 << 1;
constexpr int kPadRight = 1 << 2;
constexpr int kPadUp = 1 << 3;
constexpr int kPadButton0 = 1 << 4;

// The joypads found when input started.
int QueryPadCount();
int QueryPadInputState(int pad);
// The stick's position, -1000 to 1000 on each axis. 0, or -1 for a pad that cannot be
// read (both values 0 then). Either pointer may be null.
int QueryPadAnalogInput(int* x, int* y, int pad);
// Vibrates a force-feedback pad at power 0 to 1000 for the given milliseconds (negative:
// until stopped). 0, or -1 for a pad without force feedback.
int StartPadVibration(int input, int power, int durationMs);
int StopPadVibration(int input);

// Mouse buttons held down: kMouseLeft, kMouseRight and kMouseMiddle or-ed together.
constexpr int kMouseLeft = 1;
constexpr int kMouseRight = 2;
constexpr int kMouseMiddle = 4;
int QueryMouseButtons();

// Key input: a one-line editor fed by typed characters and the IME. Handles are -1 on
// failure. maxLength counts UTF-16 units; with cancelAllowed Escape cancels the input.
int CreateKeyInput(int maxLength, int cancelAllowed);
// Makes the handle the one that typing goes to (-1: none) and switches the IME on.
int ActivateKeyInput(int handle);
// 0 while editing, 1 after Enter, 2 after a cancelling Escape; -1 for a bad handle.
int QueryKeyInputEnd(int handle);
// Copies the text (cut to capacity - 1 units) and returns the units copied, or -1.
int GetKeyInputText(int handle, wchar_t* dst, int capacity);
// Deleting the last key input switches the IME off.
int DeleteKeyInput(int handle);

// The IME's composition text (cut to capacity - 1 units); returns its units. cursor, when
// not null, receives the cursor in characters. With dst null returns the units only.
int QueryImeComposition(wchar_t* dst, int capacity, int* cursor);
// Index -1: the number of conversion candidates shown (-1 when none). Otherwise copies
// candidate index and returns its units, or -1.
int QueryImeCandidate(int index, wchar_t* dst, int capacity);

// ---------------------------------------------------------------------------------------
// Screen, draw settings and colour values
// ---------------------------------------------------------------------------------------

struct tagRECT;

// The screen mode: width, height, colour bits (8, 16 or 32) and refresh rate (0 any).
// Before start-up only stores it. 0 mode as asked; -2 the mode fell back to 640 x 480 x 16;
// -1 refused or failed.
int ConfigureScreenMode(int width, int height, int colorBits, int refreshRate);
// The surface drawing goes to: -2 back screen, -4 front screen, or a render-target graph.
int SelectDrawTarget(int target);
int GetDrawTarget();
// Shows the back screen in the window.
int PresentScreen();
// Shows the part of the picture under a rectangle of the window's client area; null for all.
int PresentScreenArea(const struct tagRECT* area);
int PresentScreenPreservingContents();
// 1 (the default) waits for the vertical blank before each present.
int SetVerticalSyncWait(int flag);
int GetVerticalSyncWait();
// The size and colour bits of the screen as shown. Each pointer may be null.
int QueryScreenSizeAndDepth(int* width, int* height, int* colorBits);

struct DisplayModeEntry {
    int width;
    int height;
    int colorBits;
    int refreshRate;
};
// The display's modes of 16 colour bits or more.
int CountDisplayModes();
// The entry; all four fields -1 for an index outside the list.
DisplayModeEntry FetchDisplayMode(int index);

// Blend mode 0 none, 1 alpha blend, 2 add, 3 subtract, 4 multiply, 10 inverse blend,
// 11 multiply blend; the parameter 0 to 255 weighs it.
int SelectBlendMode(int mode, int parameter);
// The draw-bright colour that multiplies what is drawn; 255, 255, 255 for none.
int StoreBrightChannels(int red, int green, int blue);
void StoreBrightRgb(uint32_t rgb);
// 0 nearest, 1 bilinear, 2 anisotropic.
int SetTextureFilterMode(int mode);
int GetTextureFilterMode();
// A graph whose pixels weigh later draws against the border position and range; -1 for none.
int SelectBlendGraph(int graph, int borderPosition, int borderRange);
int SetFogMode(int mode);
int SetFogColor(int red, int green, int blue);
int SetFogStartEnd(float start, float end);
// 0 asks for the software renderer. Before start-up only; -1 afterwards.
int RequestHardwareRendering(int flag);
int IsHardwareRenderingRequested();
// A colour value in the screen's pixel format, and back.
uint32_t PackScreenColor(int red, int green, int blue);
int UnpackScreenColor(uint32_t color, int* red, int* green, int* blue);

// ---------------------------------------------------------------------------------------
// Graphs and drawing
// ---------------------------------------------------------------------------------------
// A graph is a drawable image named by a handle. Draws return 0, or -1 for a handle that is
// not a live graph; while the clip rectangle is empty they return 0 and draw nothing. A
// transparent flag other than 0 skips the graph's transparent colour (or uses its alpha).

struct PixelRect;  // left, top, right, bottom (right and bottom exclusive): a RECT's layout

// A new graph of the size, cleared to 0. Its handle, or -1.
int CreateBlankGraph(int width, int height);
// A graph showing the rectangle of the source graph's pixels (no copy); cut to the source's
// edges. Its handle, or -1 when (x, y) is outside the source.
int CreateSubGraph(int x, int y, int width, int height, int source);
// Frees the graph; its pixels go when no sub-graph uses them any more.
int DestroyGraph(int graphHandle);
// The graph's size; -2 and -4 give the screen's. Either pointer may be null.
int QueryGraphSize(int handle, int* width, int* height);
// Colour bits of graphs made from now on (0: the screen's).
int SetNewGraphColorBits(int bits);
// 1: blank graphs made from now on get an alpha channel.
int SetNewGraphAlphaChannelFlag(int flag);

// Clears the draw target (or the area of it) to the background colour; ignores the clip.
int WipeDrawScreen(const PixelRect* area);
// Drawing is kept inside the rectangle, ordered and clamped to the draw target.
int SetDrawClipRect(int x1, int y1, int x2, int y2);
// Fills the whole graph with the colour (each 0 to 255) under the blend mode.
int PaintGraphColor(int graphHandle, int red, int green, int blue, int alpha);
int DrawGraphAt(int x, int y, int graph, int transparent);
// Corners given reversed (x1 > x2 or y1 > y2) mirror the graph along that axis.
int DrawGraphStretched(int x1, int y1, int x2, int y2, int graph, int transparent);
int DrawGraphStretchedFloat(float x1, float y1, float x2, float y2, int graph, int transparent);
// Mirrored left to right, at the graph's own size.
int DrawGraphMirrored(int x, int y, int graph, int transparent);
// The source rectangle of the graph drawn at (x, y); mirror 1 flips it left to right.
int DrawGraphPortion(int x, int y, int srcX, int srcY, int width, int height, int graph, int transparent, int mirror);
int DrawGraphPortionStretched(float x1, float y1, float x2, float y2, int srcX, int srcY, int width, int height,
                              int graph, int transparent);
// Corners clockwise from the one that receives the graph's top-left.
int DrawGraphFourCorners(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int graph,
                         int transparent);

// ---------------------------------------------------------------------------------------
// Fonts and text
// ---------------------------------------------------------------------------------------
// Colours are colour values of the screen's format; kinds are 0 plain, 1 with edge,
// 2 anti-aliased, 3 anti-aliased with edge. Each -1 argument takes its default.

// A font of its own: face (null for the system's default), size (16), thickness 0-9 (6),
// kind (0), character set 0-4 (the system's), edge size (1), italic, slot 0-39 and check
// number 0-2047 (both chosen by the library). The handle, or -1.
int CreateFontToHandle(const wchar_t* face, int size, int thickness, int kind, int charSetIndex, int edgeSize,
                       int italic, int slot, int check);
int DestroyFontHandle(int handle);
// The font's size, or -1.
int QueryFontHeight(int handle);
// Copies the face (256 units) and writes size and thickness where pointers are given.
int GetFontFaceSizeThickness(wchar_t* face, int* size, int* thickness, int handle);
// Extra pixels added to every character's advance.
int SetFontCharSpacing(int spacing, int handle);
// Draws text with its top-left at (x, y); vertical text runs downwards, turned clockwise.
int DrawTextWithFont(int x, int y, const wchar_t* text, uint32_t color, int handle, uint32_t edgeColor, int vertical);

// The standard font follows these settings; it is re-made only when one of them changes.
int SetStandardFontSize(int size);
int SetStandardFontThickness(int thickness);
int SetStandardFontFace(const wchar_t* face, int charSetIndex);
int SetStandardFontKind(int kind);
int GetStandardFontHandle();
int DrawTextWithStandardFont(int x, int y, const wchar_t* text, uint32_t color, uint32_t edgeColor);
