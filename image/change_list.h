#pragma once
// What differs between two images, in the main window's own terms: settings
// by control with the values the window shows, code-table rows as the grids
// show them, bytes that no control shows, and the blocks an upload sends.
//
// The list is plain data: parameter rows, grid ids and cell texts, no
// language. texts/change_text.h turns it into texts in a language; a caller
// that wants its own form (JSON, a table) reads the fields directly.
//
//   const ChangeList changes = listChanges(deviceImage, workingImage);
//   if (changes.empty()) ...;                 // the images are equal
//   for (const SettingChange& s : changes.settings) s.parameter->number ...;
//   for (const RowChange& r : changes.rows) ...;  // grouped by r.grid
//
// Every differing byte shows up somewhere: in a setting, in a row, or counted
// in `bytes` by the region it lies in.
#include "image/grid.h"
#include "image/image.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvane {

// One settings control whose value differs.
struct SettingChange {
    const Parameter* parameter = nullptr;  // its row of parameterTable()
    ControlState before, after;            // what the control shows for each image
    // The field's stored bytes (two for the 16-bit values, eight for p101).
    std::vector<std::uint8_t> storedBefore, storedAfter;
    // True when the control shows both alike and only stored bytes differ
    // (a value outside the control's range, p714's unused bits, ...).
    bool shownAlike() const;
};

enum class RowChangeKind { Added, Removed, Changed };

// One row of a code table. `before` and `after` hold the cells as the grid
// shows them; the side a row is missing from is an empty vector.
//   Residents: matched by physical code (column 0).
//   Keys: matched by key text (column 1); a key moved to another local number
//         is Changed.
//   General codes: matched by code (column 0), in table order.
//   Digitizers: matched by digitizer and push-button (columns 1 and 2).
// Rows present alike in both tables, wherever they stand, are no change.
struct RowChange {
    GridId grid = GridId::Keys;
    RowChangeKind kind = RowChangeKind::Changed;
    Grid::Row before, after;
    // Columns whose text differs (every column for Added and Removed).
    std::vector<int> changedColumns() const;
};

// The columns that name a row of a table, as listed above.
std::vector<int> identityColumns(GridId grid);

// Where bytes differ that no setting or row of the lists shows.
enum class ByteRegion {
    Free,              // a region no field covers
    HiddenValues,      // the four 16-bit values at 0x3F78
    ReservedSettings,  // bytes among the settings that belong to no control
    Keys,              // a table's bytes that differ with no row shown
    Residents,         //   changed: records reordered, bytes behind an
    GeneralCodes,      //   empty marker, codes that read alike
    Digitizers,
};

struct ByteChange {
    ByteRegion region = ByteRegion::Free;
    std::size_t first = 0, last = 0;  // the region's first and last offset
    int count = 0;                    // differing bytes in it
};

// The upload's share of the line: a command, one frame per block, the end
// frame, at 2400 baud with ten bits to a byte.
constexpr std::size_t kUploadCommandBytes = 8;
constexpr std::size_t kUploadFrameBytes = 2 + kBlockSize;  // block index + block
constexpr int kLineBytesPerSecond = 240;
// Seconds of line time the upload of `blocks` blocks takes.
double uploadLineSeconds(std::size_t blocks);

struct ChangeList {
    std::vector<SettingChange> settings;  // parameter table order
    std::vector<RowChange> rows;          // by grid (keys, residents, general codes, digitizers), then sorted
    std::vector<ByteChange> bytes;        // by offset
    std::vector<int> blocks;              // blocks that differ, ascending: what an upload sends

    bool empty() const { return blocks.empty(); }
    std::size_t rowCount(GridId grid) const;
    double uploadSeconds() const { return uploadLineSeconds(blocks.size()); }
};

// The changes that turn `before` into `after`; for an upload `before` is the
// device image and `after` the working image.
ChangeList listChanges(const Image& before, const Image& after);

}  // namespace kelvane
