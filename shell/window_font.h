#pragma once
// The font of KelvaneMini's windows: Tahoma, 8 points, or the nearest sans
// serif the system has.
#include <QFont>

namespace kelvane::shell {

QFont windowFont();

}  // namespace kelvane::shell
