#include "shell/edit_state.h"

#include "sim/sample_building.h"

#include <gtest/gtest.h>

using namespace kelvane;
using namespace kelvane::shell;

TEST(EditState, EditsCountUntilTheyAreSentOrSaved) {
    const Image sample = sampleBuildingImage();
    const WindowData shown = showImage(sample);
    EditState state;
    state.windowStored(shown);
    state.imageKept(sample);
    state.descriptionKept("");
    EXPECT_FALSE(state.edited(shown, sample, ""));

    WindowData headers = shown;  // the header row follows the language
    headers.grid(GridId::Keys).rows[0] = {"Local", "Key"};
    headers.grid(GridId::Keys).currentRow = 3;
    EXPECT_FALSE(state.edited(headers, sample, ""));

    WindowData typed = shown;
    typed.grid(GridId::Residents).rows[1][2] = "9999";
    EXPECT_TRUE(state.imageEdited(typed, sample));
    WindowData spun = shown;
    spun.controls["p204_UpDown"].value = 60;
    EXPECT_TRUE(state.imageEdited(spun, sample));
    WindowData added = shown;
    added.grid(GridId::Keys).append({});
    EXPECT_TRUE(state.imageEdited(added, sample));

    // Checking the window rewrites bytes no control shows: no edit.
    Image checked = sample;
    checked[mem::kHiddenWords] = 0xFF;
    checked[0x0100] = 0xFF;
    EXPECT_FALSE(state.imageEdited(shown, checked));

    // Verified: the window matches the working image, which is not yet sent or saved.
    Image verified = sample;
    verified[mem::kParams + 22] = 60;
    state.windowStored(spun);
    EXPECT_TRUE(state.imageEdited(spun, verified));
    state.imageKept(verified);  // sent or saved
    EXPECT_FALSE(state.imageEdited(spun, verified));

    // The description counts for what would lose it, not for a download.
    EXPECT_FALSE(state.imageEdited(spun, verified));
    EXPECT_TRUE(state.edited(spun, verified, "Klatka A"));
    state.descriptionKept("Klatka A");
    EXPECT_FALSE(state.edited(spun, verified, "Klatka A"));
}
