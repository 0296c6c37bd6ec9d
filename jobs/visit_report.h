#pragma once
// The visit report for the building manager, gathered from the register: the
// building, the visit, the controller, what changed since the image before
// it and the configuration warnings its image still has. Plain data; the
// words come from texts/report_text.h and the page from print/.
//
//   auto found = jobs::findController(reg, "4660");
//   auto gathered = jobs::gatherVisitReport(reg, found.controller->key, 12);
//   if (gathered.report) { make the sheet, write it, then recordReport(...) }
#include "image/change_list.h"
#include "image/configuration_check.h"
#include "registry/building_register.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::jobs {

// A controller named as the register's commands take it: "SERIAL",
// "ID/SERIAL" or "unknown". A serial number alone names the one known
// controller that has it.
enum class LookupFault { None, NotAKey, SeveralIds, NotFound };
struct ControllerLookup {
    std::optional<registry::Controller> controller;
    LookupFault fault = LookupFault::None;
};
ControllerLookup findController(registry::Register& reg, const std::string& text);

enum class ReportFault {
    None,
    NoSuchVisit,  // the controller has no visit with that id
    NoImage,      // the visit kept no image (nothing was read, or a report)
    Unreadable,   // the register holds the image but cannot open it
};

struct VisitReport {
    registry::Controller controller;
    registry::Visit visit;
    // The controller's latest visit with an image before this one, when there
    // is one; the changes are counted from its image.
    std::optional<registry::Visit> previous;
    ChangeList changes;
    std::vector<Warning> warnings;  // the configuration check of the visit's image
};

struct GatheredReport {
    std::optional<VisitReport> report;
    ReportFault fault = ReportFault::None;
};
GatheredReport gatherVisitReport(registry::Register& reg, const registry::ControllerKey& key, std::int64_t visitId);

// Records with the register that the report of `report.visit` was written to
// `path`: a visit of kind Report at the reported visit's time (so it stands
// beside it and leaves the controller's last sight alone), its source the
// report's path, its outcome "report of visit N". False with `why`.
bool recordReport(registry::Register& reg, const VisitReport& report, const std::string& path,
                  const std::string& technician, std::string& why);

// "report of visit N": the outcome recordReport() stores.
std::string reportOutcome(std::int64_t visitId);

}  // namespace kelvane::jobs
