#include "jobs/visit_report.h"

#include <algorithm>

namespace kelvane::jobs {

ControllerLookup findController(registry::Register& reg, const std::string& text) {
    ControllerLookup out;
    const auto key = registry::parseKey(text);
    if (!key) {
        out.fault = LookupFault::NotAKey;
        return out;
    }
    if (key->known() || text == "unknown") {
        out.controller = reg.controller(*key);
    } else {
        std::vector<registry::Controller> found;
        for (auto& c : reg.controllers(std::to_string(key->serialNumber)))
            if (c.key.serialNumber == key->serialNumber && c.key.known()) found.push_back(c);
        if (found.size() > 1) {
            out.fault = LookupFault::SeveralIds;
            return out;
        }
        if (found.size() == 1) out.controller = found[0];
    }
    if (!out.controller) out.fault = LookupFault::NotFound;
    return out;
}

GatheredReport gatherVisitReport(registry::Register& reg, const registry::ControllerKey& key, std::int64_t visitId) {
    GatheredReport out;
    const auto controller = reg.controller(key);
    const std::vector<registry::Visit> visits = reg.visits(key);  // newest first
    const auto it = std::find_if(visits.begin(), visits.end(), [&](const registry::Visit& v) { return v.id == visitId; });
    if (!controller || it == visits.end()) {
        out.fault = ReportFault::NoSuchVisit;
        return out;
    }
    if (!it->hasImage || it->kind == registry::VisitKind::Report) {
        out.fault = ReportFault::NoImage;
        return out;
    }
    const auto image = reg.visitImage(key, visitId);
    if (!image) {
        out.fault = ReportFault::Unreadable;
        return out;
    }
    VisitReport report;
    report.controller = *controller;
    report.visit = *it;
    // Visits are listed newest first: the one before is further down.
    const auto before = std::find_if(std::next(it), visits.end(), [](const registry::Visit& v) { return v.hasImage; });
    if (before != visits.end()) {
        const auto previousImage = reg.visitImage(key, before->id);
        if (!previousImage) {
            out.fault = ReportFault::Unreadable;
            return out;
        }
        report.previous = *before;
        report.changes = listChanges(*previousImage, *image);
    }
    report.warnings = checkConfiguration(*image);
    out.report = std::move(report);
    return out;
}

std::string reportOutcome(std::int64_t visitId) { return "report of visit " + std::to_string(visitId); }

bool recordReport(registry::Register& reg, const VisitReport& report, const std::string& path,
                  const std::string& technician, std::string& why) {
    registry::NewVisit v;
    v.key = report.controller.key;
    v.kind = registry::VisitKind::Report;
    v.outcome = reportOutcome(report.visit.id);
    v.time = report.visit.time;
    v.technician = technician;
    v.source = path;
    if (reg.recordVisit(v)) return true;
    why = reg.error();
    return false;
}

}  // namespace kelvane::jobs
