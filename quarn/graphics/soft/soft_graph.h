// The software back end's records of a graph image and of a graph's view of it: the image is
// one MEMIMG, and each graph keeps a MEMIMG view of its rectangle. The shared records hold them
// in `held.soft` (graph.h).
#pragma once

#include "quarn/graphics/graph.h"
#include "quarn/softrender/softrender.h"

// A software image, in the same block as its shared record.
struct SoftImage {
    MEMIMG memImg;
    MEMIMG* renderTargetExtra;
};

// A graph's view of its rectangle of the image's MEMIMG.
struct SoftView {
    MEMIMG view;
};

// The graph's view, or an empty image (no store: the kernels draw nothing from or into it) when
// its image was made by another back end.
inline MEMIMG* SoftViewOf(const GraphRecord* graph)
{
    static MEMIMG s_none{};
    return graph->held.soft != nullptr ? &graph->held.soft->view : &s_none;
}
