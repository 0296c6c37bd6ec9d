#pragma once
// Paths of the pictures and icons that the programs carry as Qt resources
// (targets kelvane_resources and orva_resources).

namespace kelvane::resources {

// KelvaneMini (kelvane_resources)
inline constexpr const char kSplashPicture[] = ":/pictures/splash.png";  // 599 x 359, black = see-through
inline constexpr const char kAboutPicture[] = ":/pictures/about.png";    // 137 x 136
inline constexpr const char kKelvaneIcon[] = ":/icons/kelvanemini.png";  // 256 px
// ":/icons/kelvanemini-<N>.png" for N = 16, 32, 48, 64, 128, 256
inline constexpr const char kKelvaneIconPattern[] = ":/icons/kelvanemini-%1.png";
inline constexpr const char kManualIndex[] = ":/manual/index.html";

// Orva_Upgrade (orva_resources)
inline constexpr const char kOrvaIcon[] = ":/icons/orva.png";  // 256 px
inline constexpr const char kOrvaIconPattern[] = ":/icons/orva-%1.png";

inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

}  // namespace kelvane::resources
