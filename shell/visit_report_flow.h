#pragma once
// The visit report from the window: asked whether the codes show, where to
// save it, then gathered from the register (jobs/visit_report.h), written as
// a one-page PDF through the one file writer and noted with the visit.
#include "registry/building_register.h"

#include <QString>

#include <cstdint>

class QWidget;

namespace kelvane::shell {

class Prompts;

// The path written, or an empty text when the user cancelled or it failed
// (the reason shown through `prompts`).
QString makeVisitReport(QWidget* parent, Prompts& prompts, registry::Register& reg, const registry::ControllerKey& key,
                        std::int64_t visit, int language);

}  // namespace kelvane::shell
