#include "shell/settings_groups.h"

#include <cstring>

namespace kelvane::shell {

const std::vector<GroupPlace>& settingsGroups() {
    static const std::vector<GroupPlace> groups = {
        {"GroupBox5", 1, 0, 0, 1, 3, "Czasy ramki LU"},
        {"p708_RadioGroup", 1, 1, 0, 1, 1, "Przycisk funkcyjny"},
        {"GroupBox6", 1, 2, 0, 1, 1, "Pozostale"},
        {"GroupBox22", 1, 1, 1, 1, 2, "Prądy LU"},
        {"p010_RadioGroup", 1, 2, 1, 1, 1, "Rodzaj komunikacji LU1"},
        {"p011_RadioGroup", 1, 2, 2, 1, 1, "Rodzaj komunikacji LU2"},
        {"GroupBox8", 2, 0, 0, 1, 2, "Polaczenie zwrotne"},
        {"GroupBox12", 2, 0, 2, 1, 2, "Adresy przekażnikow"},
        {"GroupBox11", 2, 1, 0, 1, 2, "Załączanie kodów"},
        {"GroupBox10", 2, 1, 2, 1, 2, "Adresy EXI"},
        {"GroupBox13", 2, 2, 0, 1, 1, "Inne"},
        {"GroupBox7", 2, 2, 1, 1, 2, "Wirtualne połączenia"},
        {"GroupBox9", 2, 2, 3, 1, 1, "Potwierdzenie kodu w unifonie"},
        {"GroupBox16", 3, 0, 0, 1, 1, "Haslo"},
        {"GroupBox18", 3, 1, 0, 1, 3, "Czasy"},
        {"GroupBox14", 3, 2, 0, 1, 2, "Centrala"},
        {"GroupBox15", 3, 0, 1, 1, 2, "Komunikacja"},
        {"GroupBox17", 3, 2, 2, 1, 1, "Inne"},
        {"GroupBox20", 4, 0, 0, 1, 1, "Rozne"},
        {"GroupBox19", 4, 0, 1, 1, 1, "Elektrozaczep"},
        {"GroupBox21", 4, 1, 0, 1, 2, "Nastawy zap. w klawiaturze"},
    };
    return groups;
}

int settingsPage(const char* name) {
    for (const GroupPlace& g : settingsGroups())
        if (std::strcmp(g.name, name) == 0) return g.page;
    return 0;
}

}  // namespace kelvane::shell
