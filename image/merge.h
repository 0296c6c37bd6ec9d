#pragma once
// Three versions of one building's configuration: the base the edits started
// from, the file (the working image with its edits) and what the controller
// holds now. The merge compares them item by item with the change list's
// identities:
//   - a setting: one row of the parameter table (one bit for p714's boxes);
//   - a code-table row by its identity: a resident's slot, a key's six serial
//     bytes, a general code, a digitizer's number and push-button (an
//     identity some version lists twice matches by the row's whole content,
//     as a multiset: a changed row is then one deleted and one added);
//   - the description;
//   - the bytes no field shows, per 32-byte block.
// An item changed only in the file is sent; changed only at the controller it
// is kept; changed alike on both sides nothing is left to do; changed on both
// sides differently (a row deleted on one side and changed on the other
// included) it is a conflict for the caller to decide.
//
//   const ThreeWayMerge m = mergeVersions(base, file, controller);
//   std::vector<MergeChoice> choices(m.items.size());   // all Undecided
//   choices[i] = MergeChoice::Controller;               // for each conflict i
//   const MergedVersion out = resolveMerge(m, choices);
//   if (out.complete()) send(out.version.image);
//
// Making the controller equal to the file (the plain upload) needs no merge:
// it sends the file as it is.
#include "image/grid.h"
#include "image/image.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane {

// An image with the description a data file carries beside it. A controller
// holds no description: the caller passes the base's for it.
struct ImageVersion {
    Image image{};
    std::string description;
};

enum class MergeItemKind { Setting, Row, Description, Bytes };

enum class MergeState {
    Sent,      // changed only in the file
    Kept,      // changed only at the controller
    Same,      // changed alike on both sides
    Conflict,  // changed on both sides differently
};

enum class MergeChoice { Undecided, File, Controller };

// Index into MergeItem::value.
enum MergeSide : int { kBaseSide = 0, kFileSide = 1, kControllerSide = 2 };

// One item's value in one version.
struct MergeValue {
    bool present = true;               // Row: the row exists in this version
    ControlState control;              // Setting: what its control shows
    Grid::Row cells;                   // Row: the cells as its grid shows them; empty when absent
    std::string text;                  // Description
    std::vector<std::uint8_t> stored;  // Setting: the field's bytes; Bytes: the block with shown bits cleared
};

struct MergeItem {
    MergeItemKind kind = MergeItemKind::Setting;
    MergeState state = MergeState::Sent;
    const Parameter* parameter = nullptr;  // Setting: its row of parameterTable()
    GridId grid = GridId::Keys;            // Row
    int block = -1;                        // Bytes
    std::array<MergeValue, 3> value;       // by MergeSide
    std::string identity;                  // Row: what matches it across the versions (bytes)
};

struct ThreeWayMerge {
    ImageVersion base, file, controller;
    // Settings in table order, rows by grid (keys, residents, general codes,
    // digitizers), the description, bytes by block. When the controller
    // holds the base every item is Sent.
    std::vector<MergeItem> items;

    std::size_t count(MergeState state) const;
    // The controller still holds the base: the file goes as it is.
    bool controllerUnchanged() const;
};

ThreeWayMerge mergeVersions(const ImageVersion& base, const ImageVersion& file, const ImageVersion& controller);

// One choice per item, every conflict decided for `side` (File or Controller).
std::vector<MergeChoice> chooseAll(const ThreeWayMerge& merge, MergeChoice side);

struct MergedVersion {
    ImageVersion version;
    std::vector<std::size_t> undecided;  // items in conflict without a choice
    std::vector<GridId> overfull;        // tables whose merged rows exceed the table
    // Only a complete merge has a version to send.
    bool complete() const { return undecided.empty() && overfull.empty(); }
};

// The merged version: the file, with what was kept at the controller and the
// conflicts decided by `choices` (one per item; only conflicts read theirs).
// Rows of a packed table keep the file's order; rows only the controller has
// follow them in the controller's order.
MergedVersion resolveMerge(const ThreeWayMerge& merge, const std::vector<MergeChoice>& choices);

}  // namespace kelvane
