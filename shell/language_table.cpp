#include "shell/language_table.h"

namespace kelvane::lang {

namespace {

using T = TargetKind;
constexpr const char* W = "....";  // third language, window and card texts
constexpr const char* M = "...";   // third language, messages

// clang-format off
const std::vector<WindowEntry> kWindow = {
    // Menu items and tab pages
    {"LOAD", T::MenuItem, 0, {"Wczytaj plik", "Load file", W}},
    {"SAVE", T::MenuItem, 0, {"Zapisz plik", "Save file", W}},
    {"PRINT", T::MenuItem, 0, {"Drukuj", "Print ", W}},
    {"UPLOAD", T::MenuItem, 0, {"Wyślij plik", "Upload file", W}},
    {"VERIFY", T::MenuItem, 0, {"Weryfikacja", "Verification", W}},
    {"DOWNLOAD", T::MenuItem, 0, {"Pobierz dane", "Download data", W}},
    {"PORT", T::MenuItem, 0, {"Port", "Set port", W}},
    {"ABOUT", T::MenuItem, 0, {"O programie", "About", W}},
    {"Pomoc1", T::MenuItem, 0, {"Pomoc", "Help", W}},
    {"EXIT", T::MenuItem, 0, {"Wyjście", "Exit", W}},
    {"TabSheet1", T::TabPage, 0, {"Kody, hasła, klucze", "Codes, passwords, keys", W}},
    {"TabSheet2", T::TabPage, 0, {"Parametry unifonów", "DoorPhone parameters", W}},
    {"TabSheet5", T::TabPage, 0, {"Funkcje", "Functions", W}},
    {"TabSheet3", T::TabPage, 0, {"Konfiguracja", "Configuration", W}},
    {"TabSheet4", T::TabPage, 0, {"Parametry paneli", "Panels parameters", W}},
    {"TabSheet6", T::TabPage, 0, {"Opis", "Info", W}},
    // Page 0
    {"GroupBox1", T::GroupBox, 0, {"Klucze", "Keys", W}},
    {"sgPastylki", T::GridHeader, 0, {"Lokal", "Local", W}},
    {"sgPastylki", T::GridHeader, 1, {"Klucz", "Key", W}},
    {"GroupBox3", T::GroupBox, 0, {"Kody ogólne", "General codes", W}},
    {"sgOKO", T::GridHeader, 0, {"Kod", "Code", W}},
    {"sgOKO", T::GridHeader, 1, {"Panel", "Panel", W}},
    {"sgOKO", T::GridHeader, 2, {"Magistrala", "Bus", W}},
    {"GroupBox2", T::GroupBox, 0, {"Lokatorzy", "Users", W}},
    {"sgLokatorzy", T::GridHeader, 0, {"Kod fizyczny", "Physical code", W}},
    {"sgLokatorzy", T::GridHeader, 1, {"Kod logiczny", "Logical code", W}},
    {"sgLokatorzy", T::GridHeader, 2, {"Kod otwarcia", "Open code", W}},
    {"sgLokatorzy", T::GridHeader, 3, {"Kod główny", "Master code", W}},
    {"GroupBox4", T::GroupBox, 0, {"Digitalizery", "Digitalizers", W}},
    {"sgDigit", T::GridHeader, 0, {"Kod fizyczny", "Physical code", W}},
    {"sgDigit", T::GridHeader, 1, {"Digitalizer", "Digitizer", W}},
    {"sgDigit", T::GridHeader, 2, {"Klawisz", "Pushbutton", W}},
    // Page 1
    {"GroupBox5", T::GroupBox, 0, {"Czasy ramki LU", "LU frame times", W}},
    {"p001_LabeledEdit", T::LabeledEdit, 0, {"Czas stopu", "Stop time", W}},
    {"p002_LabeledEdit", T::LabeledEdit, 0, {"Czas pauzy", "Pause time", W}},
    {"p003_LabeledEdit", T::LabeledEdit, 0, {"Impuls adresowy", "Address impulse", W}},
    {"p004_LabeledEdit", T::LabeledEdit, 0, {"Czas załączenia", "On time", W}},
    {"p005_LabeledEdit", T::LabeledEdit, 0, {"Min. impuls otwarcia", "Min opening pulse", W}},
    {"p006_LabeledEdit", T::LabeledEdit, 0, {"Max. impuls otwarcia", "Max opening pulse", W}},
    {"p012_LabeledEdit", T::LabeledEdit, 0, {"Czas przycisku dodat.", "Additional button time", W}},
    {"p708_RadioGroup", T::RadioGroup, 0, {"Przycisk funkcyjny", "Function key", W}},
    {"p708_RadioGroup", T::RadioButton, 0, {"Rezystor 180 wywołuje CP, rezystor 68 realizuje OC", "180 Ohm calls switchboard and 68 Ohm controls OC", W}},
    {"p708_RadioGroup", T::RadioButton, 1, {"Rezystory 180 i 68 wywołują CP", "Both buttons calls switchboard", W}},
    {"p708_RadioGroup", T::RadioButton, 2, {"Rezystowy 180 i 68 realizują OC", "Both buttons controls OC", W}},
    {"p708_RadioGroup", T::RadioButton, 3, {"Rezystor 180 realizuje OC, rezystor 68 wywołuje CP", "180 Ohm controls OC and 68 Ohm calls switchboard", W}},
    {"GroupBox22", T::GroupBox, 0, {"Prądy LU", "LU currents", W}},
    {"p009_LabeledEdit", T::LabeledEdit, 0, {"Prąd załączenia", "On current treshold", W}},
    {"p008_LabeledEdit", T::LabeledEdit, 0, {"Prąd wyłączenia", "Off current treshold", W}},
    {"p007_LabeledEdit", T::LabeledEdit, 0, {"Prąd otwarcia", "Opening current", W}},
    {"GroupBox6", T::GroupBox, 0, {"Inne", "The others", W}},
    {"p901_CheckBox", T::CheckBox, 0, {"Wyłączenie OFF", "Deactivation OFF", W}},
    {"p712_LabeledEdit", T::LabeledEdit, 0, {"Ograniczenie efektu samoczynnego otwarcia", "The door self-opening cancelation", W}},
    {"Label1", T::Label, 0, {"Napięcie linii unifonów", "LU volage level", W}},
    {"p010_RadioGroup", T::RadioGroup, 0, {"Rodzaj komunikacji LU1", "Type of communication LU1", W}},
    {"p011_RadioGroup", T::RadioGroup, 0, {"Rodzaj komunikacji LU2", "Type of communication LU2", W}},
    // Page 2
    {"GroupBox8", T::GroupBox, 0, {"Połączenie zwrotne", "Callback", W}},
    {"Label11", T::Label, 0, {"Adres", "Aaddress", W}},
    {"Label12", T::Label, 0, {"Wejście", "Bus", W}},
    {"p715_BUS_ComboBox", T::ComboItem, 0, {"Dodatkowe", "Secondary Bus", W}},
    {"p715_BUS_ComboBox", T::ComboItem, 1, {"Główne", "Main Bus", W}},
    {"GroupBox12", T::GroupBox, 0, {"Adresy przekaźników", "Relays adresses", W}},
    {"Label5", T::Label, 0, {"Przekaźnik mag. głównej", "Main bus relay", W}},
    {"Label8", T::Label, 0, {"Przekaźnik mag. dodatkowej", "Secondary bus relay", W}},
    {"GroupBox11", T::GroupBox, 0, {"Załączanie kodów", "Activation codes", W}},
    {"Label15", T::Label, 0, {"Włączanie kodów IKO", "IOC activation", W}},
    {"Label14", T::Label, 0, {"Włączanie kodów OKO", "GOC activation", W}},
    {"p108_ComboBox", T::ComboItem, 0, {"Wyłączone", "OFF", W}},
    {"p108_ComboBox", T::ComboItem, 1, {"Dla zaczepu", "For electrical lock output", W}},
    {"p108_ComboBox", T::ComboItem, 2, {"Dla przekaźnika", "For relay output", W}},
    {"p108_ComboBox", T::ComboItem, 3, {"Wszystkie", "All", W}},
    {"p107_ComboBox", T::ComboItem, 0, {"Wyłączone", "OFF", W}},
    {"p107_ComboBox", T::ComboItem, 1, {"Dla zaczepu", "For electrical lock output", W}},
    {"p107_ComboBox", T::ComboItem, 2, {"Dla przekaźnika", "For relay output", W}},
    {"p107_ComboBox", T::ComboItem, 3, {"Wszystkie", "All", W}},
    {"GroupBox10", T::GroupBox, 0, {"Adresy EXI", "EXI adresses", W}},
    {"Label4", T::Label, 0, {"EXI dla mag. głównej", "EXI for main bus", W}},
    {"Label7", T::Label, 0, {"EXI dla mag. dodatkowej", "EXI for secondary bus", W}},
    {"GroupBox13", T::GroupBox, 0, {"Inne", "The others", W}},
    {"p902_CheckBox", T::CheckBox, 0, {"Emisja pikania", "Pickup time", W}},
    {"p906_CheckBox", T::CheckBox, 0, {"Pomiar prądu LU podczas połączenia", "Measurement the LU current during conversation", W}},
    {"GroupBox7", T::GroupBox, 0, {"Wirtualne połączenia", "Virtual connection", W}},
    {"GroupBox9", T::GroupBox, 0, {"Potwierdzenie otwarcia kodu w unifonie", "Personal opening code using confirmation", W}},
    {"p104_ComboBox", T::ComboItem, 0, {"Wyłączone", "OFF", W}},
    {"p104_ComboBox", T::ComboItem, 1, {"Dla zaczepu", "For electrical lock output", W}},
    {"p104_ComboBox", T::ComboItem, 2, {"Dla przekaźnika", "For relay output", W}},
    {"p104_ComboBox", T::ComboItem, 3, {"Wszystkie", "All", W}},
    // Page 3
    {"GroupBox16", T::GroupBox, 0, {"Hasło", "Password", W}},
    {"GroupBox15", T::GroupBox, 0, {"Komunikacja", "Communication", W}},
    {"Label3", T::Label, 0, {"Magistrala dodatkowa", "Communication type in secondary bus", W}},
    {"p905_ComboBox", T::ComboItem, 0, {"Normalna", "Normal", W}},
    {"p905_ComboBox", T::ComboItem, 1, {"Wzmocniona", "Strong", W}},
    {"p905_ComboBox", T::ComboItem, 2, {"RS485", "RS485", W}},
    {"p801_M_CheckBox", T::CheckBox, 0, {"Master", "Master", W}},
    {"p907_CheckBox", T::CheckBox, 0, {"Automatyzacja zarządzania Masterem", "Automatic master", W}},
    {"Label6", T::Label, 0, {"Adres zasilacza", "Address of the power supply", W}},
    {"Label2", T::Label, 0, {"Magistrala główna", "Communication type in main bus", W}},
    {"p904_ComboBox", T::ComboItem, 0, {"Normalna", "Normal", W}},
    {"p904_ComboBox", T::ComboItem, 1, {"Wzmocniona", "Strong", W}},
    {"p904_ComboBox", T::ComboItem, 2, {"RS485", "RS485", W}},
    {"GroupBox18", T::GroupBox, 0, {"Czasy [w sek.]", "Times [in sec.]", W}},
    {"Label13", T::Label, 0, {"Otwarcie zaczepu", "Electrical lock activation time", W}},
    {"Label16", T::Label, 0, {"Długość dzwonka", "Time of calling signal", W}},
    {"Label17", T::Label, 0, {"Czas na podniesienie", "Pickup time", W}},
    {"Label18", T::Label, 0, {"Długość rozmowy", "Conversation time", W}},
    {"Label19", T::Label, 0, {"Otwarcie przekaźnika", "Relay activation time", W}},
    {"Label20", T::Label, 0, {"Czekanie na klawisz", "Time between pressing buttons", W}},
    {"GroupBox14", T::GroupBox, 0, {"Centrla portierska", "Switchboard", W}},
    {"p701_CheckBox", T::CheckBox, 0, {"CP włączona", "Switchboard ON", W}},
    {"p710_CheckBox", T::CheckBox, 0, {"CP w wersji wideo", "Video switchboard", W}},
    {"Label9", T::Label, 0, {"Górny zakres adresowy dla LU1", "Top range of user codes for riser LU1", W}},
    {"Label10", T::Label, 0, {"Górny zakres adresowy dla LU2", "Top range of user codes for riser LU2", W}},
    {"GroupBox17", T::GroupBox, 0, {"Inne", "The others", W}},
    {"p711_CheckBox", T::CheckBox, 0, {"Wyjście OCA steruje wideo", "OCA controls video", W}},
    {"p106_CheckBox", T::CheckBox, 0, {"Kody fizyczne", "Physical codes", W}},
    {"p103_CheckBox", T::CheckBox, 0, {"Ządanie #", "Automatic user code confirmation", W}},
    // Page 4
    {"GroupBox20", T::GroupBox, 0, {"Różne", "Different", W}},
    {"Label23", T::Label, 0, {"Głośność klawiszy", "Pushbuttons Volume level", W}},
    {"p114_RadioGroup", T::RadioGroup, 0, {"Rodzaj sygnalizacji otwarcia", "Type of signaling the opening", W}},
    {"p114_RadioGroup", T::RadioButton, 0, {"Ruchoma FALKA", "Spinning lines", W}},
    {"p114_RadioGroup", T::RadioButton, 1, {"Naspis OPEN", "Inscription OPEN", W}},
    {"GroupBox19", T::GroupBox, 0, {"Elektrozaczep", "Electrical lock", W}},
    {"p709_CheckBox", T::CheckBox, 0, {"Rewersyjny", "Reversible electrical lock", W}},
    {"p109_CheckBox", T::CheckBox, 0, {"Przekaźnik NO-C-NO", "Change function of the relay with electrical lock", W}},
    {"Label21", T::Label, 0, {"Czas stały", "Constant time", W}},
    {"Label22", T::Label, 0, {"Częstotliwość kluczowania EZ", "Frequency of electrical lock", W}},
    {"GroupBox21", T::GroupBox, 0, {"Nastawy zapisane w klawiaturze", "Settings stored in the keyboard", W}},
    // Page 5
    {"GroupBox24", T::GroupBox, 0, {"tekst na wizytówkę", "text on the card", W}},
    {"GroupBox23", T::GroupBox, 0, {"Dodaj opis", "Add description", W}},
    // The menu item that cancels a running transfer
    {"ABORT", T::MenuItem, 0, {"Przerwij", "Abort", W}},
};

const char* const kCard[kCardTextCount][kLanguageCount] = {
    {"Numer lokalu/mieszkania", "Local number", W},
    {"Kod wywołania", "Call code", W},
    {"Kod otwarcia", "Open code", W},
    {"Kod wywołania z wejścia głównego", "Call code from main entrance", W},
    {"Kod otwarcia z wejścia głównego", "Open code from main entrance", W},
    {"Aby otworzyć drzwi:", "To open the door:", W},
    {"* wciśnij na klawiturze przycisk #", "* press the # key on the keyboard", W},
    {"* wprowadź Twój kod otwarcia", "* enter Your open code", W},
    {"* zatwierdź wprowadzony kod przyciskiem #", "* confirm by presing #", W},
    {"brak", "there is no", W},
};

const char* const kMessage[kMessageCount][kLanguageCount] = {
    {"Błąd wczytywania pliku!", "File loading error!", M},
    {"Błąd otwarcia portu COM", "Port openning error!", M},
    {"Błąd zapisu pliku!", "File saving error!", M},
    {"Port %s, zasilacz ID %d, Nr seryjny %d, firmware %d",
     "Port %s, zasilacz ID %d, Nr seryjny %d, firmware %d", ". %s, %d, %d, %d"},
    {"Operacja przerwana", "Operation aborted", M},
    {"Dane pobrane", "Data downloaded", M},
    {"Dane wysłane", "Data updated", M},
    {"W zakładce: \"", "In the tab: \"", "...: \""},
    {"\"\nW tabeli: \"", "\"\nIn table: \"", "\"\n..."},
    {"\"\nWpis nr: ", "\"\nRecord no: ", "\"\n... "},
    {"\nJest nieprawidłowy!\n\nNaciśnij \"Abort\" aby przerwać.",
     "\nIs invalid!\n\nPress \"Abort\" to cancel.", "\n..."},
    {"\nSię powtarza!\n\nNaciśnij \"OK\" aby przerwać.",
     "\nIs repeated!\n\nPress \"OK\" to cancel.", "\n..."},
    {"Brak odpowiedzi zasilacza", "No answer from the power supply", M},
    {"\nTabela jest pełna: mieści najwyżej %d wpisów.\n\nNaciśnij \"OK\" aby przerwać.",
     "\nThe table is full: it holds at most %d entries.\n\nPress \"OK\" to cancel.", "\n..."},
    {"Ustawienia", "Settings", M},
    {"Bajty, których okno nie pokazuje", "Bytes the window does not show", M},
    {"Wysyłanie", "Upload", M},
    {"Dodano", "Added", M},
    {"Usunięto", "Removed", M},
    {"Zmieniono", "Changed", M},
    {"tak", "yes", M},
    {"nie", "no", M},
    {"(brak wyboru)", "(none)", M},
    {"zapisane bajty", "stored bytes", M},
    {"Obszar wolny", "Free area", M},
    {"Cztery ukryte wartości", "Four hidden values", M},
    {"Bajty zarezerwowane ustawień", "Reserved settings bytes", M},
    {"bez widocznej zmiany", "no visible change", M},
    {"Bloki do wysłania: %s", "Blocks to send: %s", ". %s"},
    {"Czas na linii (%d bodów): ok. %s s", "Line time (%d baud): about %s s", ". %d: %s"},
    {"Brak różnic", "No differences", M},
};

const char* const kTool[kToolTextCount][kLanguageCount] = {
    {"Błędne wywołanie: %s (kvtool --help)", "Usage error: %s (see kvtool --help)", "...: %s"},
    {"Brak --port; dostępne porty: %s", "Missing --port; ports found: %s", "... --port: %s"},
    {"Nie znaleziono portów", "No ports found", M},
    {"Zasilacz nie odpowiada", "The power supply does not answer", M},
    {"Zapisano: %s", "Saved: %s", "...: %s"},
    {"Brak zmian", "No changes", M},
    {"Bloki do wysłania: %d (ok. %d s)", "Blocks to send: %d (about %d s)", "...: %d (%d)"},
    {"Wysłać %d bloków do zasilacza? [t/N] ", "Send %d blocks to the power supply? [y/N] ", "... %d? [y/N] "},
    {"Nie ma terminala, by zapytać, i brak --yes: nic nie wysłano",
     "No terminal to ask and no --yes: nothing sent", M},
    {"Nic nie wysłano", "Nothing sent", M},
    {"Wysłane bloki: %d", "Blocks sent: %d", "...: %d"},
    {"Zasilacz zawiera to samo co plik", "The power supply holds what the file holds", M},
    {"Różnice: %d bajtów w %d blokach", "Differences: %d bytes in %d blocks", "...: %d, %d"},
    {"Bootloader przestał odpowiadać", "The bootloader stopped answering", M},
    {"tak", "yes", M},
    {"nie", "no", M},
};
// clang-format on

int checked(int language) { return language >= 0 && language < kLanguageCount ? language : kPolish; }

}  // namespace

const std::vector<WindowEntry>& windowEntries() { return kWindow; }

const char* cardText(CardText entry, int language) {
    return kCard[static_cast<int>(entry)][checked(language)];
}

const char* messageText(Message entry, int language) {
    return kMessage[static_cast<int>(entry)][checked(language)];
}

const char* toolText(ToolText entry, int language) {
    return kTool[static_cast<int>(entry)][checked(language)];
}

}  // namespace kelvane::lang
