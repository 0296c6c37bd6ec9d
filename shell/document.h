#pragma once
// What KelvaneMini works on: the configuration image being edited, the copy
// the controller is known to hold, the image the window was filled from, whether
// anything would be lost, and the language the technician chose. The main
// window owns one; the device link, the safety net and the menu's wiring work
// on it. No Qt.
#include "image/image.h"
#include "shell/edit_state.h"

namespace kelvane::shell {

struct Document {
    // What the window is filled from and written into: the initial image at
    // start, then what a download, a load or a store of the window made it.
    Image working{};
    // The copy last read from or written to the controller; all zero and
    // not known until a transfer completes.
    Image device{};
    bool deviceKnown = false;
    // The image the settings controls were last filled from by the start-up,
    // a download or a load (a refill after a store keeps it): what the
    // controller or the file holds, against which the check judges settings
    // out of range. (The base an upload merges against is the run's,
    // jobs::WorkOrigin::base().)
    Image source{};
    // Edits the next download, load or the end would lose.
    EditState edits;
    // The window's and the messages' language (texts::kPolish, kEnglish...).
    int language = 0;

    // The working image is now held by the controller: read from it or
    // sent to it.
    void deviceHolds(const Image& image) {
        device = image;
        deviceKnown = true;
    }
};

}  // namespace kelvane::shell
