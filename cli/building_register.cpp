#include "cli/building_register.h"

#include "jobs/read_visit.h"
#include "registry/key_store.h"
#include "texts/visit_texts.h"

#include <QDateTime>
#include <QString>

#include <cstdio>

namespace kelvane::cli {

namespace registry = kelvane::registry;
namespace jobs = kelvane::jobs;
using kelvane::texts::ToolText;

registry::ControllerKey keyOf(const kelvane::link::ProbeReply& reply) { return {reply.id, reply.serialNumber}; }

std::string buildingName(const registry::ControllerKey& key, const registry::Controller* known) {
    if (known && !known->name.empty()) return known->name + " (" + registry::keyText(key) + ")";
    return registry::keyText(key);
}

ToolRegister::ToolRegister(const Tool& tool) : tool_(tool) {}

registry::Register* ToolRegister::get() {
    if (!tried_) {
        tried_ = true;
        const std::string path =
            tool_.args.has("--register") ? tool_.args.value("--register") : registry::Register::defaultPath();
        auto reg = std::make_unique<registry::Register>();
        if (reg->open(path)) {
            // Said once: without the key visits are kept without images.
            jobs::KeyNote key;
            const jobs::ImagesLeftOut images = jobs::imagesLeftOut(*reg, &key);
            if (images != jobs::ImagesLeftOut::No)
                tool_.error("", kelvane::texts::imagesLeftOutText(images, key, tool_.language));
            // Said once, by the run that made it: where the key is and what protects it.
            if (const auto made = registry::takeKeyMadeNote())
                tool_.error("", format(tool_.text(ToolText::KeyMadeInFile), *made));
            // The user's own register starts with KelvaneMini's backups.
            if (path == registry::Register::defaultPath() && qEnvironmentVariableIsEmpty("KELVANE_REGISTER"))
                reg->importBackupsOnce(registry::Register::defaultBackupFolder());
            reg_ = std::move(reg);
        } else {
            why_ = reg->error();
        }
    }
    return reg_.get();
}

void ToolRegister::notRecorded(const std::string& reason) {
    // A build without the register has nothing to record, and says so only
    // when the register itself is asked for (kvtool register ...).
    if (!registry::Register::available()) return;
    tool_.error("", format(tool_.text(ToolText::VisitNotRecorded), reason));
}

void ToolRegister::visit(const std::string& port, const std::optional<kelvane::link::ProbeReply>& identity,
                         registry::VisitKind kind, const std::string& outcome, const kelvane::Image* image) {
    jobs::ReadVisit visit;
    visit.identity = identity;
    visit.port = port;
    visit.kind = kind;
    visit.outcome = outcome;
    if (image) visit.image = *image;
    registry::Register* reg = identity ? get() : nullptr;
    const jobs::VisitRecord r = jobs::recordRead(reg, why_, visit);
    const std::string notRecorded = kelvane::texts::notRecordedText(r, tool_.language);
    if (!notRecorded.empty()) tool_.error("", notRecorded);
    if (r.since && (kind == registry::VisitKind::Download || kind == registry::VisitKind::Check)) {
        const QDateTime when = QDateTime::fromString(QString::fromStdString(r.since->time), Qt::ISODate);
        // A colleague's visit names them: "2026-11-03 10:00 (Jan K.)".
        const std::string date = texts::visitDateWithWho(
            when.isValid() ? when.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString() : r.since->time,
            r.since->technician, registry::technicianName());
        char line[512];
        std::snprintf(line, sizeof line,
                      tool_.text(r.since->changes == 1 ? ToolText::SinceLastVisitOne : ToolText::SinceLastVisit).c_str(),
                      date.c_str(), r.since->changes);
        tool_.result(line);
    }
}

void ToolRegister::savedFile(const std::string& path, const kelvane::Image& image,
                             const std::optional<kelvane::link::ProbeReply>& identity) {
    registry::Register* reg = get();
    if (!reg) return;  // the visit's own line has said so
    jobs::SavedFrom from;
    if (identity) from.controller = keyOf(*identity);
    from.base = image;
    if (const std::string why = jobs::recordSavedFile(*reg, path, image, from); !why.empty()) notRecorded(why);
}

void ToolRegister::editedFile(const std::string& path, const kelvane::Image& image, const kelvane::Image& from) {
    // So that an upload of it to another controller is still refused.
    madeFile(path, image, {std::nullopt, {from}, std::nullopt});
}

void ToolRegister::madeFile(const std::string& path, const kelvane::Image& image, const jobs::SavedFrom& from) {
    registry::Register* reg = get();
    const std::string why = reg ? jobs::recordSavedFile(*reg, path, image, from) : why_;
    if (!why.empty() && registry::Register::available())
        tool_.error(path, format(tool_.text(ToolText::FileNotNoted), why));
}

}  // namespace kelvane::cli
