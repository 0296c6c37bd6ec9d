#include "diagnostics/support_bundle.h"

#include "files/atomic_file.h"
#include "files/data_file.h"
#include "files/program_log.h"
#include "files/trace_store.h"
#include "image/secret_mask.h"
#include "link/port_info.h"
#include "link/trace_mask.h"
#include "diagnostics/diagnostics.h"
#include "session/system_ports.h"

#include <QSettings>
#include <QSysInfo>
#include <QtGlobal>

#ifdef KELVANE_WITH_LIBZIP
#include <zip.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace kelvane::diagnostics {
namespace {

namespace fs = std::filesystem;

// A trace or log larger than this goes in cut to its end (the store keeps
// 20 MB of traces; ten of them need not all travel).
constexpr std::uintmax_t kEntryLimit = 8u * 1024 * 1024;

std::string readTail(const std::string& path, std::uintmax_t limit) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) return {};
    std::ifstream in(path, std::ios::binary);
    if (size > limit) in.seekg(static_cast<std::streamoff>(size - limit));
    std::ostringstream out;
    out << in.rdbuf();
    std::string text = out.str();
    // A cut file starts at its next whole line.
    if (size > limit) text.erase(0, text.find('\n') == std::string::npos ? text.size() : text.find('\n') + 1);
    return text;
}

std::string versions(const BundleRequest& r) {
    std::string text = r.program + " " + r.version + "\n";
    text += std::string("Qt ") + qVersion() + " (built with " QT_VERSION_STR ")\n";
#ifdef KELVANE_WITH_LIBZIP
    text += "libzip " + std::string(zip_libzip_version()) + "\n";
#endif
    text += "OS " + QSysInfo::prettyProductName().toStdString() + ", kernel " + QSysInfo::kernelType().toStdString() +
            " " + QSysInfo::kernelVersion().toStdString() + ", " + QSysInfo::currentCpuArchitecture().toStdString() + "\n";
    return text;
}

std::string portList() {
    auto ports = session::systemPorts();
    link::sortPorts(ports);
    std::string text = "# path\tdescription\tmanufacturer\tserial number\tUSB vid:pid\tdriver\tlatency timer (ms)\n";
    auto field = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    for (const auto& p : ports) {
        const AdapterDetails d = adapterDetails(p.name);
        text += field(p.location) + "\t" + field(p.description) + "\t" + field(p.manufacturer) + "\t" +
                field(p.serialNumber) + "\t" + field(p.usbId) + "\t" + field(d.driver) + "\t" + field(d.latencyTimer) +
                "\n";
    }
    if (ports.empty()) text += "(no serial ports)\n";
    return text;
}

std::string settingsOf(const std::string& program) {
    QSettings settings(QStringLiteral("Kelvane"), QString::fromStdString(program));
    std::string text = "# " + settings.fileName().toStdString() + "\n";
    for (const QString& key : settings.allKeys())
        text += key.toStdString() + " = " + settings.value(key).toString().toStdString() + "\n";
    return text;
}

}  // namespace

std::vector<BundleEntry> supportBundleEntries(const BundleRequest& request) {
    std::vector<BundleEntry> entries;
    entries.push_back({"versions.txt", versions(request)});
    entries.push_back({"ports.txt", portList()});

    // The newest traces of all the programs, by the time in their names.
    std::vector<std::pair<std::string, std::string>> traces;  // file name, path
    for (const std::string& program : diagnosedPrograms())
        for (const std::string& path : TraceStore{traceFolder(program)}.traces(kBundleTraces))
            traces.emplace_back(fs::path(path).filename().string(), path);
    std::sort(traces.begin(), traces.end());
    if (traces.size() > static_cast<std::size_t>(kBundleTraces))
        traces.erase(traces.begin(), traces.end() - kBundleTraces);
    for (const auto& [name, path] : traces)
        entries.push_back({"traces/" + name, link::maskTrace(readTail(path, kEntryLimit))});

    for (const std::string& program : diagnosedPrograms()) {
        for (const std::string& path : {logPath(program) + ".1", logPath(program)}) {
            std::error_code error;
            if (fs::is_regular_file(path, error))
                entries.push_back(
                    {"logs/" + fs::path(path).filename().string(), maskConnectionSecrets(readTail(path, kEntryLimit))});
        }
    }
    for (const std::string& program : {std::string("KelvaneMini"), std::string("Orva_Upgrade")})
        entries.push_back({"settings/" + program + ".conf", maskConnectionSecrets(settingsOf(program))});

    if (request.image) {
        Image masked = *request.image;
        maskSecrets(masked);
        const std::vector<std::uint8_t> bytes = writeDataFile(masked, request.imageDescription);
        entries.push_back({"image-masked.kvd", std::string(bytes.begin(), bytes.end())});
    }
    return entries;
}

bool supportBundleAvailable() {
#ifdef KELVANE_WITH_LIBZIP
    return true;
#else
    return false;
#endif
}

#ifndef KELVANE_WITH_LIBZIP
std::string writeSupportBundle(const std::string&, const std::vector<BundleEntry>&) {
    return "the support bundle is not available in this build";
}
#else
std::string writeSupportBundle(const std::string& path, const std::vector<BundleEntry>& entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* memory = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!memory) return zip_error_strerror(&error);
    zip_source_keep(memory);  // read back after the archive is closed
    std::unique_ptr<zip_source_t, void (*)(zip_source_t*)> keep(memory, zip_source_free);
    zip_t* archive = zip_open_from_source(memory, ZIP_TRUNCATE, &error);
    if (!archive) return zip_error_strerror(&error);
    for (const BundleEntry& e : entries) {
        zip_source_t* s = zip_source_buffer(archive, e.content.data(), e.content.size(), 0);
        if (!s || zip_file_add(archive, e.name.c_str(), s, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
            if (s) zip_source_free(s);
            const std::string why = zip_strerror(archive);
            zip_discard(archive);
            return why;
        }
    }
    if (zip_close(archive) < 0) {
        const std::string why = zip_strerror(archive);
        zip_discard(archive);
        return why;
    }
    if (zip_source_open(memory) < 0) return "cannot read the archive back";
    std::string bytes;
    if (zip_source_seek(memory, 0, SEEK_END) == 0) {
        const zip_int64_t size = zip_source_tell(memory);
        zip_source_seek(memory, 0, SEEK_SET);
        if (size > 0) {
            bytes.resize(static_cast<std::size_t>(size));
            if (zip_source_read(memory, bytes.data(), static_cast<zip_uint64_t>(size)) != size) bytes.clear();
        }
    }
    zip_source_close(memory);
    if (bytes.empty()) return "cannot read the archive back";
    // The bundle's traces and image are the owner's alone, whatever file was there.
    const WriteFault fault = writeFileSafely(pathFromUtf8(path), bytes.data(), bytes.size(), FileAccess::OwnerOnly);
    if (fault != WriteFault::None) return "cannot write " + path + ": " + writeFaultReason(fault, errno);
    return {};
}
#endif

}  // namespace kelvane::diagnostics
