#include "registry/building_register.h"

// The register of a build without Qt SQL: it never opens, and every query
// finds nothing. Callers treat it as any register they cannot open: the
// visit is not recorded and the work goes on.
namespace kelvane::registry {

namespace {
constexpr const char* kNotBuilt = "the register is not part of this build";
}

bool Register::available() { return false; }
bool Register::loadDriver() { return false; }

Register::Register() = default;
Register::~Register() = default;

bool Register::fail(const std::string& what) {
    error_ = what;
    return false;
}

bool Register::open(const std::string& path, int) {
    path_ = path;
    open_ = false;
    return fail(kNotBuilt);
}

int Register::schemaVersion() { return 0; }

void Register::setDataKey(const std::optional<DataKey>& key, const std::string& why,
                          const std::optional<DataKey>& previous) {
    key_ = key;
    previousKey_ = previous;
    keyWhy_ = why;
    keySet_ = true;
}

std::optional<Controller> Register::controller(const ControllerKey&) { return std::nullopt; }
std::vector<Controller> Register::controllers(const std::string&) { return {}; }
std::vector<Visit> Register::visits(const ControllerKey&) { return {}; }
std::optional<Visit> Register::visit(const ControllerKey&, std::int64_t) { return std::nullopt; }
std::optional<Image> Register::visitImage(const ControllerKey&, std::int64_t) { return std::nullopt; }

bool Register::describe(const ControllerKey&, const std::string&, const std::string&, const std::optional<std::string>&) {
    return fail(kNotBuilt);
}

std::vector<FieldEdit> Register::fieldHistory(const ControllerKey&) { return {}; }

std::optional<Recorded> Register::recordVisit(const NewVisit&) {
    fail(kNotBuilt);
    return std::nullopt;
}

bool Register::recordSavedFile(const std::string&, const Image&, const std::optional<ControllerKey>&,
                               const std::optional<Image>&) {
    return fail(kNotBuilt);
}

std::vector<Controller> Register::originsOf(const Image&) { return {}; }

std::optional<Controller> Register::wrongBuilding(const Image&, const std::optional<ControllerKey>&, const ControllerKey&) {
    return std::nullopt;
}

std::optional<Image> Register::baseImageFor(const Image&, std::string*, std::string*) { return std::nullopt; }

std::optional<int> Register::importBackups(const std::string&) {
    fail(kNotBuilt);
    return std::nullopt;
}

std::optional<int> Register::importBackupsOnce(const std::string&) {
    fail(kNotBuilt);
    return std::nullopt;
}

}  // namespace kelvane::registry
