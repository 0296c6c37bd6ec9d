#include "jobs/read_visit.h"

#include "jobs/work_origin.h"
#include "registry/key_store.h"

namespace kelvane::jobs {

ImagesLeftOut imagesLeftOut(const registry::Register& reg, KeyNote* why) {
    if (reg.imagesNote().empty()) return ImagesLeftOut::No;
    // The register takes the process's key; with one, what it lacks is the
    // key its images are sealed with.
    const registry::KeyState& state = registry::dataKey();
    if (state.key) return ImagesLeftOut::OtherKey;
    if (why) *why = KeyNote{state.missing, state.fileFault, state.detail};
    return ImagesLeftOut::NoKey;
}

VisitRecord recordRead(registry::Register* reg, const std::string& registerError, const ReadVisit& visit) {
    VisitRecord r;
    if (!registry::Register::available()) return r;
    if (!visit.identity) {
        r.recording = Recording::NoIdentity;
        return r;
    }
    if (!reg) {
        r.recording = Recording::Failed;
        r.recordError = registerError;
        return r;
    }
    registry::NewVisit v;
    v.key = {visit.identity->id, visit.identity->serialNumber};
    v.firmware = visit.identity->firmware;
    v.kind = visit.kind;
    v.outcome = visit.outcome;
    v.port = portKey(visit.port);
    v.image = visit.image;
    const auto recorded = reg->recordVisit(v);
    if (!recorded) {
        r.recording = Recording::Failed;
        r.recordError = reg->error();
        return r;
    }
    r.recording = Recording::Recorded;
    if (visit.image) r.images = imagesLeftOut(*reg, &r.key);
    if (recorded->previous && recorded->previousImage && recorded->changes.value_or(0) > 0)
        r.since = SinceLastVisit{recorded->previous->time, *recorded->changes, *recorded->previousImage,
                                 recorded->previous->technician};
    return r;
}

}  // namespace kelvane::jobs
