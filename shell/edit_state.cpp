#include "shell/edit_state.h"

#include "image/change_list.h"

#include <algorithm>

namespace kelvane::shell {

bool sameWindowContents(const WindowData& a, const WindowData& b) {
    // Data rows only: the header row follows the language.
    for (int i = 0; i < kGridCount; ++i) {
        const auto& ra = a.grids[i].rows;
        const auto& rb = b.grids[i].rows;
        if (ra.size() != rb.size() ||
            !std::equal(ra.begin() + (ra.empty() ? 0 : 1), ra.end(), rb.begin() + (rb.empty() ? 0 : 1)))
            return false;
    }
    if (a.controls.size() != b.controls.size()) return false;
    for (auto ia = a.controls.begin(), ib = b.controls.begin(); ia != a.controls.end(); ++ia, ++ib)
        if (ia->first != ib->first || ia->second.value != ib->second.value || ia->second.text != ib->second.text)
            return false;
    return true;
}

bool EditState::imageEdited(const WindowData& window, const Image& working) const {
    if (!sameWindowContents(window, window_)) return true;
    if (working == image_) return false;
    const ChangeList changes = listChanges(image_, working);
    return !changes.rows.empty() || std::any_of(changes.settings.begin(), changes.settings.end(),
                                                [](const SettingChange& s) { return !s.shownAlike(); });
}

}  // namespace kelvane::shell
