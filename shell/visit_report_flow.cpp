#include "shell/visit_report_flow.h"

#include "jobs/visit_report.h"
#include "print/report_render.h"
#include "shell/prompts.h"
#include "texts/file_texts.h"
#include "texts/report_text.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace kelvane::shell {

namespace {

QString text(texts::ReportText t, int language) { return QString::fromUtf8(texts::reportText(t, language)); }

}  // namespace

QString makeVisitReport(QWidget* parent, Prompts& prompts, registry::Register& reg, const registry::ControllerKey& key,
                        std::int64_t visit, int language) {
    const QString title = text(texts::ReportText::SaveTitle, language);
    const auto gathered = jobs::gatherVisitReport(reg, key, visit);
    if (!gathered.report) {
        prompts.error(parent, title,
                      QString::fromStdString(texts::reportFaultText(gathered.fault, std::to_string(visit), language)));
        return {};
    }
    // Masked is the default: the report leaves the technician's hands.
    const int answer = prompts.choose(parent, title, text(texts::ReportText::Question, language),
                                      {text(texts::ReportText::Masked, language), text(texts::ReportText::Shown, language),
                                       text(texts::ReportText::Cancel, language)},
                                      0, 2);
    if (answer != 0 && answer != 1) return {};
    const auto codes = answer == 1 ? texts::CodeView::Shown : texts::CodeView::Masked;

    const QString date = QString::fromStdString(gathered.report->visit.time).left(10);
    QFileDialog dialog(parent, title, QDir::homePath());
    dialog.setObjectName(QStringLiteral("ReportSaveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.setNameFilter(QStringLiteral("PDF (*.pdf)"));
    QString name = text(texts::ReportText::FileName, language);
    for (const QString& part : {QString::number(key.serialNumber), date})
        if (const int at = name.indexOf(QLatin1String("%s")); at >= 0) name.replace(at, 2, part);
    dialog.selectFile(name);
    QString path = prompts.chooseFile(&dialog);
    if (path.isEmpty()) return {};
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");

    const QDateTime now = QDateTime::currentDateTime();
    const texts::LocalTime made{now.date().year(), now.date().month(),  now.date().day(),
                                now.time().hour(), now.time().minute(), now.time().second()};
    const ReportSheet sheet = texts::visitReportSheet(*gathered.report, language, codes, made, "KelvaneMini");
    WriteFault fault = WriteFault::None;
    if (!WriteReportPdf(pathFromUtf8(path.toStdString()), sheet, &fault)) {
        prompts.error(parent, title, QString::fromStdString(texts::writeFaultText(fault, language)));
        return {};
    }
    std::string why;
    if (!jobs::recordReport(reg, *gathered.report, path.toStdString(), {}, why))
        prompts.message(
            parent, title,
            text(texts::ReportText::NotRecorded, language).replace(QLatin1String("%s"), QString::fromStdString(why)));
    return path;
}

}  // namespace kelvane::shell
