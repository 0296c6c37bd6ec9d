#pragma once
// An image safe to hand to someone else: every secret replaced, the layout
// kept. Resident codes (logical, open and main), general codes, the serial
// bytes of the touch keys and the service password get made-up values; empty
// entries stay empty and every other byte stays as it was, so the masked image
// still loads and shows the building's structure. A replacement depends only
// on the entry's place and on whether it is set, never on its value, so the
// masked image tells nothing of the codes, serials and password it hides
// (two images with the same entries set mask alike); a made-up value may
// equal the real one by chance, which nobody can tell from the masked image.
// The codes of one table stay distinct.
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
