#pragma once
// What the programs read from the environment (the register, the data key,
// the simulator's firmware, the language) is the test's to give, never the
// shell's it was started from: a KELVANE_KEY_FILE of the user's would hand
// the programs another data key. Included once by a test program that runs
// the programs, it clears those variables before any test starts; the test
// cases then set what they mean. KELVANE_PG_* stay: with_postgres.sh passes
// its throw-away server in them, to the test rather than to the programs.
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace kelvane::testing {

inline bool readByThePrograms(const std::string& name) {
    const auto starts = [&](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (starts("KELVANE_PG_")) return false;
    return starts("KELVANE_") || starts("KVTOOL_") || starts("LC_") || name == "LANGUAGE";
}

inline bool clearProgramEnvironment() {
    std::vector<std::string> names;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (readByThePrograms(name)) names.push_back(name);
    }
    for (const std::string& name : names) ::unsetenv(name.c_str());
    return true;
}

inline const bool kProgramEnvironmentCleared = clearProgramEnvironment();

}  // namespace kelvane::testing
