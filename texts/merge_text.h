#pragma once
// A three-way merge (image/merge.h) in a language: the three groups the
// question before an upload shows, and each item's name and values as the
// window shows them.
//
//   const auto groups = describeMerge(merge, "3 Nov 2026 10:15", language);
//   std::string text = changeListText(groups);  // sent, kept, conflicts
#include "image/merge.h"
#include "texts/change_text.h"

#include <string>
#include <vector>

namespace kelvane::texts {

// What the item is: "p001 Czas stopu", "Lokatorzy: Kod fizyczny 1.5", "Opis",
// "Bajty bez pola, blok 8 (0x0100–0x011F)".
std::string mergeItemName(const MergeItem& item, int language);
// The item's value in one version: the control's value, the row's cells (or
// "no row"), the description, the bytes that differ by offset.
std::string mergeItemValue(const MergeItem& item, MergeSide side, int language);

// Up to three groups, those with items: your changes (sent), changed at the
// controller since `baseDate` (kept), conflicts (both values). Items changed
// alike on both sides are in none.
std::vector<ChangeGroup> describeMerge(const ThreeWayMerge& merge, const std::string& baseDate, int language);

}  // namespace kelvane::texts
