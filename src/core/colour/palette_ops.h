// Operations that carry a working palette into a 4-bit or 8-bit picture, and
// the view's handling of the palette window's requests.
//
// The four record operations share their guards: they refuse a record without
// header or pixels, a depth other than 4 or 8, N > 16 at 4 bits or N > 256,
// and change nothing then. Otherwise
// they change the colour table (and for organise and remap the pixel indices),
// rebuild the display bitmap. None of them changes the header or
// the logical palette. Table entries written from the working palette get
// (blue, green, red, 0) from the low bytes of its values; entries beyond the
// table block are never written.
#pragma once

#include <cstdint>
#include <functional>

#include "core/colour/working_palette.h"
#include "core/image/dib_image.h"

namespace qel {

// Table entries 0 .. N-1 become the working palette.
OpResult setColourTable(DibImage& image, const WorkingPalette& pal);
// Merges duplicate colours of the working palette and entries of the empty colour (205, 205, 205),
// compacts the rest to the front in their order, rewrites pixel indices below N to the new
// positions and writes the compacted palette into the table (empty entries at the end).
OpResult organiseColours(DibImage& image, const WorkingPalette& pal);
// Each table entry 0 .. N-1 whose nearest working colour lies at a squared distance below
// p^2 (below 210,000 when p is 0) becomes that colour; pixels stay.
OpResult approximateColours(DibImage& image, const WorkingPalette& pal, int32_t precision);
// Pixels of each table entry move to the index of its nearest working colour, then table entries
// 0 .. N-1 become the working palette. After a sort the picture keeps its look.
OpResult remapColours(DibImage& image, const WorkingPalette& pal);

// "パレットに合せる": N by the palette command's rule is stored in the palette, each table entry
// 0 .. N-1 becomes its nearest working colour and entry 0 is selected. No snapshot is taken; the
// display bitmap is rebuilt at once so the view shows the result. Refused for other depths or
// without a picture (nothing changed).
OpResult fitToPalette(DibImage& image, WorkingPalette& pal);

// Request codes the palette window sends to its view.
enum PaletteRequest : int32_t {
    kRequestNone = 0,
    kRequestClose = 99,          // the window closes: the view drops its palette-open mark
    kRequestSetTable = 1001,     // snapshot, setColourTable
    kRequestOrganise = 1002,     // snapshot, organiseColours, reload the working palette
    kRequestPreview = 1003,      // setColourTable without a snapshot
    kRequestApproximate = 1004,  // snapshot, approximateColours with pal.precision, reload
    kRequestRemap = 1005,        // remapColours without a snapshot
    kRequestPreviewEnd = 1006,   // the check-colour preview ends: the view puts back the table from before it
};

// Runs request 1001 .. 1005 on the picture the way the view does: `takeSnapshot` where the request
// takes one, the operation, and the reload of the working palette after organise and approximate.
// Returns the operation's result; other codes change nothing (99 is the view's own business).
OpResult runPaletteRequest(DibImage& image, WorkingPalette& pal, PaletteRequest request,
                           const std::function<void()>& takeSnapshot);

}  // namespace qel
