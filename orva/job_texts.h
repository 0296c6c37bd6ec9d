#pragma once
// The texts of the firmware job around the flash (UTF-8, Polish as the
// upgrade tool's own).

namespace kelvane::orva::texts {

constexpr const char* kChooseFile = "Wybierz plik\u2026";
constexpr const char* kChooseFileTitle = "Wybierz plik oprogramowania";
constexpr const char* kFileFilter = "Oprogramowanie (*.dat);;Wszystkie pliki (*)";
constexpr const char* kFirmwareFrame = "Oprogramowanie";
constexpr const char* kHaveBackup = "Mam aktualn\u0105 kopi\u0119 konfiguracji";
constexpr const char* kNoFileNamed = "Brak pliku: ";
constexpr const char* kBadFileNamed = "B\u0142\u0119dny plik: ";
constexpr const char* kFileTooLarge = "plik za du\u017Cy";
constexpr const char* kRestore = "Przywr\u00F3\u0107 konfiguracj\u0119";
constexpr const char* kShowChanges = "Poka\u017C\u2026";
constexpr const char* kChangeListTitle = "Lista zmian";
constexpr const char* kClose = "Zamknij";
constexpr const char* kController = "Sterownik";
constexpr const char* kBuilding = "Budynek: ";
constexpr const char* kNotRecorded = "Wizyta nie zosta\u0142a zapisana w rejestrze: ";

constexpr const char* kSame = "bez zmian";
constexpr const char* kChanged = "zmiany: ";

// After the job, in the change box and the status line.
constexpr const char* kConfigurationSame = "Konfiguracja taka sama jak przed programowaniem.";
constexpr const char* kConfigurationChanged = "Konfiguracja r\u00F3\u017Cni si\u0119 od kopii sprzed programowania:";
constexpr const char* kConfigurationRestored = "Konfiguracja przywr\u00F3cona i sprawdzona.";
constexpr const char* kBackupKept = "Kopia konfiguracji: ";
constexpr const char* kNoController = "Sterownik nie odpowiada";
constexpr const char* kNotBack = "Sterownik nie wr\u00F3ci\u0142";
constexpr const char* kLineBusy = "Sterownik ci\u0105gle nadaje";
constexpr const char* kBackupFailed = "Kopia konfiguracji nieudana";
constexpr const char* kVerifyFailed = "Weryfikacja nieudana";
constexpr const char* kRestoreFailed = "Przywracanie nieudane";
constexpr const char* kSkipBackupTitle = "Kopia konfiguracji";
constexpr const char* kSkipBackup =
    "Pomin\u0105\u0107 kopi\u0119 konfiguracji? Bez niej nie b\u0119dzie mo\u017Cna sprawdzi\u0107 ani przywr\u00F3ci\u0107 "
    "konfiguracji po programowaniu.";
constexpr const char* kHalfwayTitle = "Przerwane programowanie";
constexpr const char* kHalfway =
    "Poprzednie programowanie (port %1) zosta\u0142o przerwane. Sterownik mo\u017Ce czeka\u0107 w trybie "
    "bootloadera i nie odpowiada\u0107. Zaprogramowa\u0107 go ponownie?";

}  // namespace kelvane::orva::texts
