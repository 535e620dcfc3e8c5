// The hardware renderer's quads: a graph drawn as one textured quad per texture piece, at a
// point, stretched or onto four free corners, written straight into the vertex batch; the
// untextured box of the subtract emulation.
//
// Portable: the device is reached only through the state cache and the batch (DeviceCalls),
// so the vertices are tested natively against a recording device.
#include <cstring>

#include "quarn/graphics/d3d9/device_graph.h"
#include "quarn/graphics/d3d9/device_state.h"
#include "quarn/graphics/graph.h"
#include "quarn/graphics/graphics.h"
#include "quarn/graphics/render_backend.h"

namespace {

// One corner of a quad before it is laid out in the batch's vertex kind.
struct QuadCorner {
    float x, y;    // screen position
    float u, v;    // texture coordinates of the piece's tile
    float gx, gy;  // position within the graph (the blend graph's coordinates follow it)
};

// What every quad of one draw shares.
struct QuadFrame {
    float z;
    uint32_t color;
    float left, top, right, bottom;  // the clip rectangle as floats
    // A selected blend graph: its texture coordinate per graph pixel, and its offset.
    float blendScaleU, blendScaleV;
    float blendOffsetX, blendOffsetY;
};

// The largest vertex of the batch kinds (kind 2: 40 bytes).
constexpr int32_t kMaxStride = 40;

// The 8 x 8 vertex grid of a free quad that is no parallelogram (not re-entrant).
constexpr int32_t kGridSide = 8;
alignas(16) uint8_t s_grid[kGridSide * kGridSide * 28];

void PutFloat(uint8_t* out, int32_t index, float value) { std::memcpy(out + index * 4, &value, 4); }
void PutWord(uint8_t* out, int32_t index, uint32_t value) { std::memcpy(out + index * 4, &value, 4); }

// Lays one corner out in the vertex kind (0 untextured, 1 one texture, 2 blend graph and
// texture); rhw is always 1.
void WriteVertex(uint8_t* out, int32_t kind, const QuadFrame& frame, const QuadCorner& c)
{
    PutFloat(out, 0, c.x);
    PutFloat(out, 1, c.y);
    PutFloat(out, 2, frame.z);
    PutFloat(out, 3, 1.0f);
    PutWord(out, 4, frame.color);
    if (kind == 1) {
        PutFloat(out, 5, c.u);
        PutFloat(out, 6, c.v);
    } else if (kind == 2) {
        PutWord(out, 5, 0xFFFFFFFFu);
        PutFloat(out, 6, (frame.blendOffsetX + c.gx) * frame.blendScaleU);
        PutFloat(out, 7, (frame.blendOffsetY + c.gy) * frame.blendScaleV);
        PutFloat(out, 8, c.u);
        PutFloat(out, 9, c.v);
    }
}

// Appends whole triangles of the list (at most two) in the batch's vertex kind.
int32_t AppendTriangles(const QuadFrame& frame, const QuadCorner* corners, int32_t count)
{
    const int32_t kind = g_vertexBatch.kind;
    const int32_t stride = kBatchStride[kind < 0 || kind > 2 ? 1 : kind];
    uint8_t vertices[6 * kMaxStride];
    for (int32_t i = 0; i < count && i < 6; ++i) {
        WriteVertex(vertices + i * stride, kind, frame, corners[i]);
    }
    return AppendBatchVertices(kPtTriangleList, vertices, count < 6 ? count : 6);
}

// Appends the quad (top-left, top-right, bottom-left, bottom-right) as two triangles of the
// list; reversed exchanges the second and third vertex of each, so a mirrored quad keeps its
// turning direction.
int32_t AppendQuad(const QuadFrame& frame, const QuadCorner corners[4], bool reversed)
{
    static const int32_t kOrder[6] = {0, 1, 2, 3, 2, 1};
    static const int32_t kReversed[6] = {0, 2, 1, 3, 1, 2};
    QuadCorner ordered[6];
    for (int32_t i = 0; i < 6; ++i) {
        ordered[i] = corners[(reversed ? kReversed : kOrder)[i]];
    }
    return AppendTriangles(frame, ordered, 6);
}

// Binds the piece's tile and sends the draw-mode states when they changed.
void BindPiece(const TexturePiece& piece)
{
    SetDrawTexture(piece.tile != nullptr ? piece.tile->texture : nullptr);
    if (g_deviceCache.blendDirty || g_deviceCache.textureDirty) {
        ApplyDrawModeStates(nullptr, 1, 0);
    }
}

// Each piece of the graph's device view that lies on a tile, bound, handed to draw: 0, or -1
// as soon as a draw returns it.
template <class Draw>
int32_t DrawBoundPieces(const GraphRecord* graph, Draw&& draw)
{
    const DeviceView& view = DeviceViewOf(graph);
    for (int32_t p = 0; p < view.pieceCount; ++p) {
        const TexturePiece& piece = view.pieces[p];
        if (piece.tile == nullptr) {
            continue;
        }
        BindPiece(piece);
        if (draw(piece) != 0) {
            return -1;
        }
    }
    return 0;
}

// Opens the scene and sets the states of a graph draw: false without a device.
bool BeginGraphQuads(const GraphRecord* graph, uint32_t flags, QuadFrame* frame)
{
    if (CurrentDeviceCalls() == nullptr || graph == nullptr || graph->image == nullptr) {
        return false;
    }
    BeginSceneIfClosed();
    const TextureTile* firstTile = FirstPieceTile(graph);
    void* first = firstTile != nullptr ? firstTile->texture : nullptr;
    PrepareDrawStates(&graph->image->request, first, flags);
    const DrawSettings& s = g_drawSettings;
    frame->z = s.quadEdgeOffset;
    frame->color = ComputeBatchVertexColor();
    frame->left = static_cast<float>(s.clip.left);
    frame->top = static_cast<float>(s.clip.top);
    frame->right = static_cast<float>(s.clip.right);
    frame->bottom = static_cast<float>(s.clip.bottom);
    frame->blendScaleU = 0.0f;
    frame->blendScaleV = 0.0f;
    frame->blendOffsetX = static_cast<float>(s.blendGraphOffsetX);
    frame->blendOffsetY = static_cast<float>(s.blendGraphOffsetY);
    const GraphRecord* blend = FindGraphRecord(s.blendGraph);
    if (blend != nullptr && FirstPieceTile(blend) != nullptr) {
        const TextureTile& tile = *FirstPieceTile(blend);
        frame->blendScaleU = 1.0f / static_cast<float>(tile.textureWidth);
        frame->blendScaleV = 1.0f / static_cast<float>(tile.textureHeight);
        frame->blendOffsetX += static_cast<float>(blend->x);
        frame->blendOffsetY += static_cast<float>(blend->y);
    }
    return true;
}

// Moves a coordinate into [low, high] and its texture coordinate (and graph position) with
// it: texPerPixel and graphPerPixel are the changes per screen pixel.
void ClampAxis(float* pos, float* tex, float* graphPos, float low, float high, float texPerPixel, float graphPerPixel)
{
    float target = *pos;
    if (*pos < low) {
        target = low;
    } else if (*pos > high) {
        target = high;
    } else {
        return;
    }
    const float moved = target - *pos;
    *tex += moved * texPerPixel;
    *graphPos += moved * graphPerPixel;
    *pos = target;
}

// The pieces of a graph placed by origin + scale * (position in the graph), clipped unless
// the whole graph lies inside the clip rectangle.
int32_t DrawPlacedPieces(const GraphRecord* graph, const QuadFrame& frame, float originX, float originY, float scaleX,
                         float scaleY, bool inside, float clipShift)
{
    return DrawBoundPieces(graph, [&](const TexturePiece& piece) {
        QuadCorner corners[4];
        for (int32_t i = 0; i < 4; ++i) {
            const TextureCorner& c = piece.corners[i];
            corners[i] = QuadCorner{originX + scaleX * c.x, originY + scaleY * c.y, c.u, c.v, c.x, c.y};
            if (!inside) {
                const float texW = static_cast<float>(piece.tile->textureWidth);
                const float texH = static_cast<float>(piece.tile->textureHeight);
                ClampAxis(&corners[i].x, &corners[i].u, &corners[i].gx, frame.left + clipShift, frame.right + clipShift,
                          1.0f / (texW * scaleX), 1.0f / scaleX);
                ClampAxis(&corners[i].y, &corners[i].v, &corners[i].gy, frame.top + clipShift, frame.bottom + clipShift,
                          1.0f / (texH * scaleY), 1.0f / scaleY);
            }
        }
        return AppendQuad(frame, corners, false);
    });
}

bool Parallelogram(const float c[8])
{
    auto near = [](float a, float b) { return (a - b < 0 ? b - a : a - b) < 1.0f; };
    // Top (TR - TL) against bottom (BR - BL), left (BL - TL) against right (BR - TR).
    return near(c[2] - c[0], c[6] - c[4]) && near(c[3] - c[1], c[7] - c[5]) && near(c[4] - c[0], c[6] - c[2]) &&
           near(c[5] - c[1], c[7] - c[3]);
}

float SignedArea(float ax, float ay, float bx, float by, float cx, float cy)
{
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

// Corners of a piece within the free quad: bilinear in the graph fractions.
void PlaceInQuad(const float q[8], double u, double v, float* x, float* y)
{
    const double topX = q[0] + (q[2] - q[0]) * u;
    const double topY = q[1] + (q[3] - q[1]) * u;
    const double bottomX = q[4] + (q[6] - q[4]) * u;
    const double bottomY = q[5] + (q[7] - q[5]) * u;
    *x = static_cast<float>(topX + (bottomX - topX) * v);
    *y = static_cast<float>(topY + (bottomY - topY) * v);
}

}  // namespace

int32_t DrawPieceFreeQuad(const TexturePiece* piece, const float corners[8])
{
    if (CurrentDeviceCalls() == nullptr || piece == nullptr || piece->tile == nullptr) {
        return -1;
    }
    BindPiece(*piece);
    QuadFrame frame{};
    frame.z = g_drawSettings.quadEdgeOffset;
    frame.color = ComputeBatchVertexColor();
    const float* c = corners;
    if (Parallelogram(c)) {
        QuadCorner q[4];
        for (int32_t i = 0; i < 4; ++i) {
            const TextureCorner& t = piece->corners[i];
            q[i] = QuadCorner{c[2 * i], c[2 * i + 1], t.u, t.v, t.x, t.y};
        }
        const bool reversed = SignedArea(c[0], c[1], c[2], c[3], c[4], c[5]) <= 0.0f &&
                              SignedArea(c[6], c[7], c[4], c[5], c[2], c[3]) <= 0.0f;
        return AppendQuad(frame, q, reversed);
    }
    // A trapezoid or worse: a grid, so that the texture bends with the quad instead of
    // breaking along one diagonal.
    const TextureCorner& t0 = piece->corners[0];
    const TextureCorner& t3 = piece->corners[3];
    for (int32_t row = 0; row < kGridSide; ++row) {
        for (int32_t column = 0; column < kGridSide; ++column) {
            const double fu = column / 7.0;
            const double fv = row / 7.0;
            QuadCorner q{};
            PlaceInQuad(c, fu, fv, &q.x, &q.y);
            q.u = static_cast<float>(t0.u + (t3.u - t0.u) * fu);
            q.v = static_cast<float>(t0.v + (t3.v - t0.v) * fv);
            WriteVertex(s_grid + (row * kGridSide + column) * 28, 1, frame, q);
        }
    }
    return DrawVertexGrid(kGridSide, kGridSide, s_grid);
}

int32_t DrawGraphQuad(const GraphRecord* graph, int32_t x, int32_t y, float fx, float fy, int32_t transparent,
                      int32_t wholePixel)
{
    QuadFrame frame{};
    if (!BeginGraphQuads(graph, (transparent ? 0x1u : 0u) | (wholePixel ? 0x2u : 0u), &frame)) {
        return -1;
    }
    const PixelRect& clip = g_drawSettings.clip;
    const bool inside = x >= clip.left && y >= clip.top && int64_t{x} + graph->width - 1 < clip.right &&
                        int64_t{y} + graph->height - 1 < clip.bottom;
    // Half a pixel back, so that texel centres fall on pixel centres.
    return DrawPlacedPieces(graph, frame, fx - 0.5f, fy - 0.5f, 1.0f, 1.0f, inside, 0.0f);
}

int32_t DrawGraphStretchedQuad(const GraphRecord* graph, const int32_t corners[4], const float floatCorners[4],
                               int32_t transparent, int32_t wholePixel)
{
    const float* f = floatCorners;
    const int32_t* c = corners;
    // A flat rectangle is one whose corners coincide as the caller gave them: integers, whose
    // float copies are equal too, or floats, whose truncations are equal too. Far out, distinct
    // integers can round to one float: such a rectangle is not flat.
    const bool flat = (c[0] == c[2] && f[0] == f[2]) || (c[1] == c[3] && f[1] == f[3]);
    if (flat || graph == nullptr || graph->width <= 0 || graph->height <= 0) {
        return -1;
    }
    if (f[0] == f[2] || f[1] == f[3]) {
        // Corners floats cannot tell apart lie 2^24 pixels or more out, beyond every clip
        // rectangle of the device: nothing of the rectangle shows, and no scale of zero is
        // divided by.
        return CurrentDeviceCalls() == nullptr ? -1 : 0;
    }
    const uint32_t flags = (transparent ? 0x1u : 0u) | (wholePixel && g_drawSettings.filterMode != 1 ? 0x2u : 0u);
    QuadFrame frame{};
    if (!BeginGraphQuads(graph, flags, &frame)) {
        return -1;
    }
    const PixelRect& clip = g_drawSettings.clip;
    const int32_t left = corners[0] < corners[2] ? corners[0] : corners[2];
    const int32_t right = corners[0] < corners[2] ? corners[2] : corners[0];
    const int32_t top = corners[1] < corners[3] ? corners[1] : corners[3];
    const int32_t bottom = corners[1] < corners[3] ? corners[3] : corners[1];
    const bool inside = left >= clip.left && top >= clip.top && right <= clip.right && bottom <= clip.bottom;
    const float scaleX = (f[2] - f[0]) / static_cast<float>(graph->width);
    const float scaleY = (f[3] - f[1]) / static_cast<float>(graph->height);
    return DrawPlacedPieces(graph, frame, f[0] - 0.5f, f[1] - 0.5f, scaleX, scaleY, inside, -0.5f);
}

int32_t DrawGraphFourCornersQuad(const GraphRecord* graph, const float corners[8], int32_t transparent)
{
    if (graph == nullptr || graph->width <= 0 || graph->height <= 0) {
        return -1;
    }
    const float* c = corners;
    if (g_drawSettings.blendGraph != -1) {
        int32_t t[8];
        for (int32_t i = 0; i < 8; ++i) {
            t[i] = TruncateFloatToInt(c[i]);
        }
        return DrawGraphFourCornersBlend(graph, t, transparent);
    }
    QuadFrame frame{};
    if (!BeginGraphQuads(graph, transparent ? 0x1u : 0u, &frame)) {
        return -1;
    }
    const DeviceView& view = DeviceViewOf(graph);
    if (view.pieceCount == 1) {
        return DrawPieceFreeQuad(&view.pieces[0], c) == 0 ? 0 : -1;
    }
    const double width = graph->width;
    const double height = graph->height;
    for (int32_t p = 0; p < view.pieceCount; ++p) {
        const TexturePiece& piece = view.pieces[p];
        float placed[8];
        for (int32_t i = 0; i < 4; ++i) {
            PlaceInQuad(c, piece.corners[i].x / width, piece.corners[i].y / height, &placed[2 * i], &placed[2 * i + 1]);
        }
        if (DrawPieceFreeQuad(&piece, placed) != 0) {
            return -1;
        }
    }
    return 0;
}

namespace {

// A point of a piece in graph coordinates while its rectangle is cut along the graph's diagonal.
struct GraphPoint {
    double x, y;
};

// The part of the rectangle on one side of the diagonal from the graph's top-right to its
// bottom-left corner: side -1 the top-left half (x / width + y / height <= 1), +1 the other.
// The rectangle's corners run round it; the result has at most five points.
int32_t CutAlongDiagonal(const GraphPoint rect[4], double width, double height, int32_t side, GraphPoint out[5])
{
    // Above 0 on the far side of the diagonal.
    auto beyond = [&](const GraphPoint& p) { return -side * (p.x / width + p.y / height - 1.0); };
    int32_t n = 0;
    for (int32_t i = 0; i < 4; ++i) {
        const GraphPoint& a = rect[i];
        const GraphPoint& b = rect[(i + 1) % 4];
        const double da = beyond(a);
        const double db = beyond(b);
        if (da <= 0.0) {
            out[n++] = a;
        }
        if ((da < 0.0 && db > 0.0) || (da > 0.0 && db < 0.0)) {
            const double k = da / (da - db);
            out[n++] = GraphPoint{a.x + (b.x - a.x) * k, a.y + (b.y - a.y) * k};
        }
    }
    return n;
}

}  // namespace

int32_t DrawGraphFourCornersBlend(const GraphRecord* graph, const int32_t corners[8], int32_t transparent)
{
    if (graph == nullptr || graph->width <= 0 || graph->height <= 0) {
        return -1;
    }
    const int32_t* t = corners;
    // An upright rectangle keeps the blend graph's pixels on the graph's: drawn as the
    // stretched quad it is.
    if (t[0] == t[4] && t[2] == t[6] && t[1] == t[3] && t[5] == t[7]) {
        const int32_t box[4] = {t[0], t[1], t[6], t[7]};
        const float floatBox[4] = {static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[6]),
                                   static_cast<float>(t[7])};
        return DrawGraphStretchedQuad(graph, box, floatBox, transparent, 1);
    }
    if (CurrentDeviceCalls() == nullptr) {
        return -1;
    }
    FlushVertexBatch();
    QuadFrame frame{};
    if (!BeginGraphQuads(graph, 0x2u | (transparent ? 0x1u : 0u), &frame)) {
        return -1;
    }
    // Two affine maps of the graph, meeting on its diagonal from the top-right to the
    // bottom-left corner: from the top-left corner along the top and left edges, and from the
    // bottom-right corner along the bottom and right edges. Every point of the graph, and so
    // every blend-graph coordinate, moves linearly within its half, as in the software
    // triangles; a piece crossing the diagonal is cut along it.
    const double width = graph->width;
    const double height = graph->height;
    const double tlX = t[0] - 0.5, tlY = t[1] - 0.5;
    const double brX = t[6] - 0.5, brY = t[7] - 0.5;
    const double topX = t[2] - t[0], topY = t[3] - t[1];        // TR - TL
    const double leftX = t[4] - t[0], leftY = t[5] - t[1];      // BL - TL
    const double bottomX = t[4] - t[6], bottomY = t[5] - t[7];  // BL - BR
    const double rightX = t[2] - t[6], rightY = t[3] - t[7];    // TR - BR
    return DrawBoundPieces(graph, [&](const TexturePiece& piece) {
        const TextureCorner& c0 = piece.corners[0];
        const TextureCorner& c3 = piece.corners[3];
        const GraphPoint rect[4] = {{c0.x, c0.y}, {c3.x, c0.y}, {c3.x, c3.y}, {c0.x, c3.y}};
        const double spanX = c3.x - c0.x;
        const double spanY = c3.y - c0.y;
        for (int32_t side = -1; side <= 1; side += 2) {
            GraphPoint cut[5];
            const int32_t n = CutAlongDiagonal(rect, width, height, side, cut);
            QuadCorner q[5];
            for (int32_t i = 0; i < n; ++i) {
                const double fx = cut[i].x / width;
                const double fy = cut[i].y / height;
                double x = 0.0;
                double y = 0.0;
                if (side < 0) {
                    x = tlX + topX * fx + leftX * fy;
                    y = tlY + topY * fx + leftY * fy;
                } else {
                    x = brX + bottomX * (1.0 - fx) + rightX * (1.0 - fy);
                    y = brY + bottomY * (1.0 - fx) + rightY * (1.0 - fy);
                }
                const double su = spanX != 0.0 ? (cut[i].x - c0.x) / spanX : 0.0;
                const double sv = spanY != 0.0 ? (cut[i].y - c0.y) / spanY : 0.0;
                q[i] = QuadCorner{static_cast<float>(x),
                                  static_cast<float>(y),
                                  static_cast<float>(c0.u + (c3.u - c0.u) * su),
                                  static_cast<float>(c0.v + (c3.v - c0.v) * sv),
                                  static_cast<float>(cut[i].x),
                                  static_cast<float>(cut[i].y)};
            }
            // A fan over the convex cut, each triangle turned so that back-face culling keeps it.
            for (int32_t i = 1; i + 1 < n; ++i) {
                const float area = SignedArea(q[0].x, q[0].y, q[i].x, q[i].y, q[i + 1].x, q[i + 1].y);
                if (area == 0.0f) {
                    continue;
                }
                const QuadCorner triangle[3] = {q[0], area > 0.0f ? q[i] : q[i + 1], area > 0.0f ? q[i + 1] : q[i]};
                if (AppendTriangles(frame, triangle, 3) != 0) {
                    return -1;
                }
            }
        }
        return 0;
    });
}

int32_t DrawFilledBoxQuad(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t color)
{
    if (CurrentDeviceCalls() == nullptr) {
        return -1;
    }
    PixelRect box{x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2, x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1};
    const PixelRect clip = g_drawSettings.clip;
    ClampRectInsideRect(&box, &clip);
    if (box.right <= box.left || box.bottom <= box.top) {
        return 0;
    }
    BeginSceneIfClosed();
    PrepareDrawStates(nullptr, nullptr, 0x20);
    int red = 0;
    int green = 0;
    int blue = 0;
    UnpackScreenColor(color, &red, &green, &blue);
    const uint32_t base = ComputeBatchVertexColor();
    const uint32_t tinted = (base & 0xFF000000u) | (((base >> 16 & 0xFF) * static_cast<uint32_t>(red) / 255) << 16) |
                            (((base >> 8 & 0xFF) * static_cast<uint32_t>(green) / 255) << 8) |
                            ((base & 0xFF) * static_cast<uint32_t>(blue) / 255);
    if (g_deviceCache.blendDirty || g_deviceCache.textureDirty) {
        ApplyDrawModeStates(nullptr, 1, 0);
    }
    QuadFrame frame{};
    frame.z = g_drawSettings.quadEdgeOffset;
    frame.color = tinted;
    const auto l = static_cast<float>(box.left);
    const auto t = static_cast<float>(box.top);
    const auto r = static_cast<float>(box.right);
    const auto b = static_cast<float>(box.bottom);
    const QuadCorner corners[4] = {{l, t, 0, 0, 0, 0}, {r, t, 0, 0, 0, 0}, {l, b, 0, 0, 0, 0}, {r, b, 0, 0, 0, 0}};
    return AppendQuad(frame, corners, false);
}

namespace {

// Inverts the area (1 - destination) with a white box in subtract mode at full strength, whose
// factors are (inverse destination colour, zero); then leaves the blend mode as given.
void InvertArea(const PixelRect* area, BlendMode modeAfter)
{
    DrawSettings& s = g_drawSettings;
    const int32_t param = s.blendParam;
    const uint32_t bright = s.brightColor;
    StoreBrightRgb(0xFFFFFF);
    if (!s.drawingDisabled && (s.blendMode != kBlendModeSubtract || s.blendParam != 255)) {
        SelectBlendMode(kBlendModeSubtract, 255);
    }
    if (area != nullptr) {
        DrawFilledBoxQuad(area->left, area->top, area->right, area->bottom, PackScreenColor(255, 255, 255));
    }
    StoreBrightRgb(bright & 0xFFFFFF);
    s.brightColor = bright;
    SelectBlendMode(modeAfter, param);
}

}  // namespace

// Subtract without the device's reverse-subtract: invert, add, invert again:
// 1 - ((1 - destination) + source * a) = destination - source * a.
void InvertAreaBeforeSubtract(const PixelRect* area) { InvertArea(area, kBlendModeAddInternal); }
void InvertAreaAfterSubtract(const PixelRect* area) { InvertArea(area, kBlendModeSubtract); }
