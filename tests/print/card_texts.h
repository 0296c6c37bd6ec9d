#pragma once
// The Polish texts of a resident's card, as the program's language table
// gives them, for the card tests and the printing benchmark.
#include "files/card_layout.h"

namespace kelvane {

inline CardTexts polishCardTexts() {
    return {"Numer lokalu/mieszkania",
            "Kod wywołania",
            "Kod otwarcia",
            "Kod wywołania z wejścia głównego",
            "Kod otwarcia z wejścia głównego",
            "Aby otworzyć drzwi:",
            "* wciśnij na klawiturze przycisk #",
            "* wprowadź Twój kod otwarcia",
            "* zatwierdź wprowadzony kod przyciskiem #",
            "brak"};
}

}  // namespace kelvane
