#pragma once
// Whether the window holds edits that would be lost: typed into the window
// and not yet in the working image, or in the working image and neither sent
// to the controller nor saved in a file, or a description not saved.
#include "image/image.h"
#include "image/window_data.h"

#include <string>

namespace kelvane::shell {

// True when the two hold the same grid data rows and control values (the
// header rows, which follow the language, and the cursor position do not
// count).
bool sameWindowContents(const WindowData& a, const WindowData& b);

class EditState {
public:
    // The window's contents are now those of the working image: after
    // DisplayData, or after GetData stored them in it.
    void windowStored(const WindowData& window) { window_ = window; }
    // The working image is now held elsewhere: read from or sent to the
    // controller, saved to or loaded from a file (and the initial image at
    // start).
    void imageKept(const Image& working) { image_ = working; }
    // The description is now in a file: saved or loaded (empty at start).
    void descriptionKept(const std::string& description) { description_ = description; }

    // The window differs from what it was filled with or last stored:
    // typed edits the working image does not hold yet.
    bool windowEdited(const WindowData& window) const { return !sameWindowContents(window, window_); }
    // Settings or table edits that a download would replace: the window
    // differs from what it was filled with, or the working image shows
    // otherwise than the image kept. (Checking the window rewrites bytes no
    // control shows; that alone is no edit.)
    bool imageEdited(const WindowData& window, const Image& working) const;
    // Anything a LOAD or the end of the program would lose.
    bool edited(const WindowData& window, const Image& working, const std::string& description) const {
        return imageEdited(window, working) || description != description_;
    }

private:
    WindowData window_;
    Image image_{};
    std::string description_;
};

}  // namespace kelvane::shell
