// The blend modes: how a draw combines what it draws with the pixels already there. One type
// for the drawing front end, both render back ends and the software kernels; the application
// passes the same numbers as plain ints (SelectBlendMode). Portable: no OS headers.
//
// A new mode is a new name here (values are what applications pass, so existing ones never
// change), then what each renderer does with it: the software renderer its form in
// quarn/softrender/blend_ops.h (ModeForms, WithModeForm and the modes ReadBlendSetup lets
// through), the Direct3D 9 device its row of kBlendFactorTable
// (quarn/graphics/d3d9/device_blend.cpp). A mode a renderer does not know draws nothing there.
#pragma once

#include <cstdint>

// Stored as given: a value outside the names is kept and draws nothing.
enum BlendMode : int32_t {
    kBlendModeNone = 0,      // the source replaces the destination
    kBlendModeAlpha = 1,     // alpha blend by the parameter
    kBlendModeAdd = 2,       // add, saturating
    kBlendModeSubtract = 3,  // subtract, saturating
    kBlendModeMultiply = 4,  // destination times source; the parameter is not used
    // Modes 5 to 9 are known to the device only; the software kernels draw nothing in them.
    kBlendModeAddInternal = 5,      // as add; the device's subtract emulation draws in it
    kBlendModeNoneAlt = 6,          // as none
    kBlendModeFactorsKept = 7,      // blending on, the source and destination factors left as set
    kBlendModeDestinationKept = 8,  // colour left as it is; alpha test and depth writes still run
    kBlendModeInvertBySource = 9,   // source times (1 - destination)
    kBlendModeInverseBlend = 10,    // the inverted source blended by the parameter
    kBlendModeMultiplyBlend = 11,   // multiply, then blended by the parameter
    // Subtract through the device's reverse subtraction; the kernels draw nothing in it.
    kBlendModeReverseSubtract = 12,
};

// One past the last mode: the rows of the device's blend mapping.
constexpr int32_t kBlendModeCount = kBlendModeReverseSubtract + 1;
