#pragma once
// The main window's contents as plain data, and the two conversions between
// it and an image: show (what the window displays for an image) and build
// (the image the window's contents make, with validation).
#include "image/grid.h"
#include "image/image.h"

#include <array>
#include <map>
#include <optional>
#include <string>

namespace kelvane {

// The value a settings control holds.
struct ControlState {
    int value = 0;     // up-down/track-bar position, 1/0 checked, item index (-1 none)
    std::string text;  // mask edit text (p101)
};

struct WindowData {
    std::array<Grid, kGridCount> grids;
    std::map<std::string, ControlState> controls;  // keyed by control name

    Grid& grid(GridId id) { return grids[static_cast<int>(id)]; }
    const Grid& grid(GridId id) const { return grids[static_cast<int>(id)]; }
};

struct Parameter;
// The value a settings control holds for an image, by the control's kind: an
// up-down or track bar within its range, a combo box index beyond its list as
// no selection (-1), a radio group index beyond its items as the last one.
ControlState showControl(const Parameter& parameter, const Image& image);

// Fills the window's contents from an image: the four grids (header rows
// empty; the window writes them from the language table) and every settings
// control by its kind. A grid without rows gets one empty data row.
WindowData showImage(const Image& image);

// The cells of one stored entry of a table as its grid shows them, whether
// or not the entry is in use. A resident's entry is its slot:
// (line - 1) * 255 + local number - 1.
Grid::Row showEntry(GridId grid, const Image& image, std::size_t entry);

// Told about the rows that break a rule while an image is built.
class RowReporter {
public:
    virtual ~RowReporter() = default;
    // An invalid row; true to abort the whole conversion, false to leave the
    // row out and go on.
    virtual bool invalidEntry(GridId grid, int row, const Grid& cells) = 0;
    // A repeated row; the conversion stops.
    virtual void repeatedEntry(GridId grid, int row, const Grid& cells) = 0;
    // A valid row that no longer fits its table (more than 512 keys, 64
    // general codes or 96 digitizers); the conversion stops.
    virtual void tableFull(GridId grid, int row, const Grid& cells) = 0;
};

// Entries a grid's table holds: 512 keys, 510 resident slots, 64 general
// codes, 96 digitizers.
int tableCapacity(GridId grid);

// Rebuilds an image from the window's contents on a scratch image of 0xFF:
// settings and reserved bytes carried from `working`, then keys, residents,
// general codes and digitizers by their row rules, settings last. Returns the
// new image, or nothing when a row stopped the conversion.
std::optional<Image> buildImage(const WindowData& window, const Image& working, RowReporter& reporter);

}  // namespace kelvane
