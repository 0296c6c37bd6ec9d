#pragma once
// The description as the file holds it and as the description box shows it.
// In the file lines end with CR LF; the box breaks lines at "\n". A CR or LF
// that stands alone in a file made elsewhere is not a line break there: the
// box shows it as its control picture (U+240D, U+240A), and it goes back to
// the file as the byte it was, so a load and a save keep the text as it was.
#include <string>

namespace kelvane {

// UTF-8 file text (CR LF line ends) to UTF-8 box text ("\n" line ends).
std::string descriptionForBox(const std::string& fileText);
// And back.
std::string descriptionFromBox(const std::string& boxText);

}  // namespace kelvane
