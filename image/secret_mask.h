#pragma once
// An image safe to hand to someone else: every secret replaced, the layout
// kept. Resident codes (logical, open and main), general codes, the serial
// bytes of the touch keys and the service password get made-up values; empty
// entries stay empty and every other byte stays as it was, so the masked image
// still loads and shows the building's structure. The replacements depend only
// on an entry's place (never on its value) and always differ from the value
// they replace; the codes of one table stay distinct.
#include "image/grid.h"
#include "image/image.h"

namespace kelvane {

void maskSecrets(Image& img);
// The same for the entries that start in [from, to) only (each lies within
// one 32-byte block): masking one block needs no other.
void maskSecretsIn(Image& img, std::size_t from, std::size_t to);

// True when the byte at this offset belongs to a field maskSecrets replaces.
bool isSecretByte(std::size_t offset);

// True for a grid column that shows such a field: the residents' logical,
// open and main codes, the general code, the key.
bool IsSecretColumn(GridId grid, int column);

}  // namespace kelvane
