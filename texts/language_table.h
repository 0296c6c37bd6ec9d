#pragma once
// KelvaneMini's language table: every text of the main window that changes
// with the language, the texts of the residents' cards and every message, in
// Polish (0), English (1) and the third language's placeholders (2).
// Texts are UTF-8; messages break lines with a line feed alone.
#include "image/parameters.h"

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace kelvane::texts {

// The languages, in the order of the Lang menu, which is made from this list.
// Their names read the same in every language.
struct Language {
    const char* action;     // object name of its menu entry
    const char* name;       // the entry's caption
    const char* code;       // as kvtool's --lang and LANG name it; empty: not chosen by code
    char decimalSeparator;  // in the numbers the texts show
};
inline constexpr Language kLanguages[] = {
    {"Polski2", "Polski", "pl", ','}, {"English2", "English", "en", '.'}, {"Pyccknn1", "Pyccknn", "", '.'}};
constexpr int kLanguageCount = static_cast<int>(std::size(kLanguages));
// The language with that code ("pl", "en"); -1 when no language has it.
int languageByCode(const std::string& code);

// A text with %1, %2... replaced by the values, in one pass (a value that
// holds "%2" stays as it is); a mark beyond the values given stays too.
std::string filled(const std::string& text, std::initializer_list<std::string> values);
constexpr int kPolish = 0;
constexpr int kEnglish = 1;
constexpr int kThird = 2;

// One text per language, in the order of kLanguages. Made only from string
// literals, exactly one per language: a row that lacks a language's text or
// holds a null one does not compile, and neither does a table with a row
// missing (there is no empty row to fill the gap).
struct Texts {
    template <std::size_t... N>
    constexpr Texts(const char (&... texts)[N]) : text{texts...} {
        static_assert(sizeof...(N) == kLanguageCount, "a language-table row needs one text for every language");
    }
    constexpr const char* operator[](int language) const { return text[language]; }
    const char* text[kLanguageCount];
};

// A row of a keyed table: the enumerator it holds the texts of, the name it
// is written with ("Message::LoadError", for the reviewed copy of every text)
// and one text per language. Written TEXT_ROW(Message::LoadError, "pl", "en",
// M); a table keeps its rows in the order of its enum, one for each
// enumerator, and checkRows() makes any other table fail to compile.
template <typename Key>
struct Row {
    template <std::size_t... N>
    constexpr Row(Key k, const char* n, const char (&... texts)[N]) : key(k), name(n), text(texts...) {}
    Key key;
    const char* name;
    Texts text;
};
#define TEXT_ROW(key, ...) \
    { key, #key, __VA_ARGS__ }

// The first row that does not hold the enumerator of its position, or -1.
template <typename Key, std::size_t N>
constexpr int misplacedRow(const Row<Key> (&rows)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (static_cast<std::size_t>(rows[i].key) != i) return static_cast<int>(i);
    return -1;
}
// Instantiated with misplacedRow(): a compile error names the row at fault as
// the template argument (MisplacedRow = 12: row 12, counted from 0).
template <int MisplacedRow>
constexpr bool rowInPlace() {
    static_assert(MisplacedRow < 0,
                  "a text table's row holds another enumerator than the one at its position: keep the rows in the "
                  "enum's order, one for each enumerator (the template argument is the row, counted from 0)");
    return true;
}
// Rows of a keyed table: one for each of the Count enumerators, in order.
template <typename Key, std::size_t N>
constexpr bool rowsMatch(const Row<Key> (&)[N]) {
    return N == static_cast<std::size_t>(Key::Count);
}

// Rows of a keyed table whose enum ends without a Count (an enum of a layer
// below, such as jobs::StepCause): one for each of its `count` enumerators.
template <typename Key, std::size_t N>
constexpr bool rowsMatch(const Row<Key> (&)[N], std::size_t count) {
    return N == count;
}

// A keyed table's text of `entry` in `language`; a language index outside
// the languages gives the Polish text.
template <typename Key, std::size_t N>
const char* rowText(const Row<Key> (&rows)[N], Key entry, int language) {
    return rows[static_cast<std::size_t>(entry)].text[language >= 0 && language < kLanguageCount ? language : kPolish];
}

// What a window entry writes its text into.
enum class TargetKind {
    MenuItem,     // caption of a menu item
    TabPage,      // caption of a tab page
    Label,        // caption of a label
    CheckBox,     // caption of a check box
    RadioGroup,   // caption of a radio group
    LabeledEdit,  // caption of the label above a labelled edit
    RadioButton,  // caption of the radio group's button `index`
    GridHeader,   // header cell of grid column `index`
    ComboItem,    // item `index` of a combo box; a combo box's items form one group
};

struct WindowEntry {
    const char* target;  // object name of the control
    TargetKind kind;
    int index;  // button, column or item index; 0 otherwise
    Texts text;
};

// The window entries in the order they are applied: the entries of the
// window followed by the entries of the transfer's abort command, of the
// configuration check, of the spreadsheet, preview and PDF commands and of
// the safety net (compare, controller check, backups, the question before an
// upload).
const std::vector<WindowEntry>& windowEntries();

// Texts printed on the residents' cards.
enum class CardText {
    FlatNumber,    // "Numer lokalu/mieszkania"
    CallCode,      // "Kod wywołania"
    OpenCode,      // "Kod otwarcia"
    MainCallCode,  // "Kod wywołania z wejścia głównego"
    MainOpenCode,  // "Kod otwarcia z wejścia głównego"
    Instruction1,  // "Aby otworzyć drzwi:"
    Instruction2,
    Instruction3,
    Instruction4,
    Missing,  // "brak"
    Count     // not a text: how many there are
};
constexpr int kCardTextCount = static_cast<int>(CardText::Count);

enum class Message {
    LoadError,        // "Błąd wczytywania pliku!"
    PortError,        // "Błąd otwarcia portu COM"
    SaveError,        // "Błąd zapisu pliku!"
    PortStatus,       // printf format: port name, ID, serial number, firmware
    TransferAborted,  // "Operacja przerwana"
    DownloadDone,     // "Dane pobrane"
    UploadDone,       // "Dane wysłane"
    ValidationTab,    // pieces of the message about one grid row
    ValidationTable,
    ValidationRecord,
    InvalidEntry,
    RepeatedEntry,
    NoAnswer,   // "Brak odpowiedzi zasilacza": an upload got no acknowledgement
    TableFull,  // printf format with the table's capacity, ends a row message
    // The change list between two images
    ChangeSettings,    // group title: settings
    ChangeOtherBytes,  // group title: bytes no setting or row shows
    ChangeUpload,      // group title: the blocks an upload sends
    ChangeAdded,       // a row was added / removed / changed
    ChangeRemoved,
    ChangeChanged,
    ValueYes,  // a checked / unchecked check box
    ValueNo,
    ValueNoSelection,  // a combo box without selection
    StoredBytes,       // a setting that differs only in its stored bytes
    RegionFree,        // regions of bytes the window does not show
    RegionHiddenValues,
    RegionReserved,
    RegionNoVisibleChange,  // a table's bytes that changed with no row shown
    UploadBlocks,           // printf format: the list of blocks
    UploadLineTime,         // printf format: baud rate, seconds as text
    NoDifferences,
    // Spreadsheet (CSV) files of the code tables
    CsvEmpty,           // the file holds no rows
    CsvBinary,          // not a text file
    CsvDataFile,        // a .kvd data file
    CsvOtherTable,      // printf format: the other table's caption, this table's caption
    CsvLine,            // printf format: line number, reason
    CsvInvalidRow,      // the row breaks the table's rules
    CsvRepeatedRow,     // printf format: the line that named the entry first
    CsvTooManyFields,   // printf format: the table's column count
    CsvTableFull,       // printf format: the table's capacity
    CsvOpenQuote,       // a quotation mark is never closed
    CsvBadCell,         // printf format: the column's header, what is wrong
    CellNotDigits,      // what is wrong with a cell
    CellTooManyDigits,  // printf format: the digits the column holds
    CellNotPhysicalCode,
    CellNotKeyText,
    CellNoCode,
    // Why a file was not written or read
    FileNotRegular,
    FileReadOnly,
    FileUnsafeLink,
    FileTooLarge,
    FileMissing,
    FileTooShort,       // a data file shorter than an image
    CsvPreviewTitle,    // printf format: the table's caption
    CsvPreviewCounts,   // printf format: rows added, replaced, removed
    CsvPreviewRefused,  // printf format: number of refused rows
    CsvModeReplace,
    CsvModeAppend,
    CsvImportButton,
    CsvFileFilter,      // file dialog filter of CSV files
    CsvExportAllTitle,  // folder dialog title
    PdfFileFilter,      // file dialog filter of PDF files
    CsvCancelButton,    // the import preview's cancel button
    PortMissing,        // the detail under the port-open error: no such port
    PortHeld,           // ... the port is in use
    PortNoPermission,   // ... no permission
    PortDialoutFix,     // ... and how to get it on Linux
    ProbeNoAnswer,      // printf format: port name; the probe got no answer
    NothingToPrint,     // printing with no resident that has a call code
    WaitingForLine,     // a transfer waits for the controller to finish sending
    LineBusy,           // the controller never stopped sending
    MayHoldNewBlocks,   // an upload ended early after sending blocks
    ThreadError,        // a transfer's thread could not be started
    // The safety net around uploads, downloads and files
    CompareTitle,  // dialog titles
    UploadQuestionTitle,
    CheckTitle,
    UnknownController,   // an upload with nothing downloaded in this run
    UnknownAfterCutOff,  // ... because an upload to it was cut off part-way
    NothingToSend,
    ButtonSend,
    ButtonCancel,
    ButtonClose,
    DontAskAgain,
    CheckAfterSending,
    UnsavedDownload,  // edits a download, a LOAD or the end would lose
    UnsavedLoad,
    UnsavedExit,
    SentUnsavedDownload,  // the same, after the window's data were sent but not saved
    SentUnsavedLoad,
    SentUnsavedExit,
    ButtonSave,
    ButtonDiscard,
    Cp1250Loss,  // printf format: the characters that become "?"
    ButtonSaveAnyway,
    ButtonBack,
    BackupDownloaded,  // printf format: date and time, port
    BackupUploaded,    // printf format: date and time, port
    BackupFailed,      // printf format: the file
    BackupsTitle,
    BackupsWhen,
    BackupsPort,
    BackupsOpen,
    BackupsOpenFolder,
    BackupsNone,
    CheckSame,  // the controller holds the device image
    CheckDiffers,
    CheckNothingKnown,  // nothing read or written in this run
    BlocksMissing,      // printf format: how many of the 512 blocks a download lacks
    // The three-way upload: the edits, the controller since the base, conflicts
    MergeSent,       // group title: changed only in the file
    MergeKept,       // group title, printf format: the base's date
    MergeConflicts,  // group title
    MergeFile,       // a conflict's two sides
    MergeController,
    MergeNoRow,        // a row missing on one side
    MergeDescription,  // the data file's description
    MergeBytes,        // printf format: block, first and last offset
    MergeOverfull,     // printf format: the table's caption
    MergeItemColumn,   // the conflicts' first column
    MergeOverwrite,    // the choice to send the file as it is
    // What the status bar says after a file command; printf formats
    FileOpened,         // the file
    FileSaved,          // the file
    FileNotNoted,       // why: the register could not note the saved file's building
    CsvWritten,         // the file, rows
    CsvFolderWritten,   // the folder, files
    CsvRead,            // the table's caption, the file, rows
    CardsSaved,         // the file
    DataFileOpenTitle,  // the data files' open and save dialogs
    DataFileSaveTitle,
    DataFileFilter,
    PortTried,           // printf format: the port name; under the port-open error
    PortChooseHint,      // ... when no such port: how to choose one
    GatewayUnreachable,  // a gateway's port (rfc2217://...): why it did not open ...
    GatewayNotTrusted,
    GatewayNoTls,
    GatewayRefused,
    GatewayFixedSpeed,
    GatewayClosed,  // ... why its line ended
    GatewaySilent,
    GatewaySettingRefused,
    Unencrypted,     // the codes cross the network unencrypted
    ProgressBlocks,  // printf format: blocks done, blocks in all, seconds left
    BrokenRule,      // printf format: a column's header, the rule its cell breaks
    RuleFlatNumber,  // the rules of the code tables' cells
    RuleKeySerial,
    RuleLineAndFlat,
    RuleLineAndPlace,
    RuleCode,
    RuleFourfoldNumber,
    RuleKeyNumber,
    BackupsSource,  // the backups list: what wrote a backup
    BackupsDownloaded,
    BackupsUploaded,
    // The building register's window
    RegisterTitle,
    RegisterSearch,
    RegisterBuilding,
    RegisterAddress,
    RegisterIdentity,
    RegisterVisits,
    RegisterLastSeen,
    RegisterWhen,
    RegisterKind,
    RegisterTechnician,
    RegisterOutcome,
    RegisterChanges,
    RegisterName,
    RegisterNotes,
    RegisterSaveDetails,
    RegisterCompare,
    RegisterSaveAs,
    RegisterUnknownBuilding,
    RegisterUnavailable,  // printf format: the reason
    WrongBuildingTitle,
    WrongBuilding,  // printf format: the file's building, the connected one
    WrongBuildingSend,
    SinceLastVisit,  // printf format: the visit's date, the count
    SinceLastVisitShow,
    VisitDownload,  // a visit's kind, in the order of the register's kinds
    VisitUpload,
    VisitCheck,
    VisitFlash,
    VisitBackup,
    // The register's window: what its commands did, the compare window's title
    RegisterDetailsSaved,
    RegisterNoResults,
    RegisterCompareTitle,  // printf format: the older visit's time, the newer one's
    // The upload's guard and its question about the controller's contents
    WrongBuildingPort,   // printf format: the file's building, the port, the connected building
    GuardUndecided,      // printf format: the port, why the guard cannot tell
    GuardNoRegister,     // printf format: why the register is not available
    GuardNoAnswer,       // the probe went unanswered
    GuardOriginUnknown,  // the register does not know the image
    GuardNoDataKey,      // ... because this computer lacks the register's data key
    GuardSendAnyway,     // the guard's button
    HoldingQuestion,     // printf format: when the file's base was read
    ReadAndMerge,        // the default answer: read, then merge
    SendEveryBlock,      // the other answer
    UploadCancelled,     // status: the upload was not started
    VisitOpened,         // status and title: printf format: the visit's date, the building
    MergeBase,           // a conflict's base value: its column
    // keys
    KeyTitle,       // the data key's window
    KeyInKeychain,  // "%s": the key's id
    KeyInFile,      // "%s": the key's id, "%s": the file
    KeyNone,        // "%s": why there is none
    KeyPrevious,    // "%s": the previous key's id
    KeyExportButton,
    KeyImportButton,
    KeyPassphrase,  // the passphrase's label
    KeyPassphraseAgain,
    KeyPassphraseShort,  // "%d": the fewest characters
    KeyPassphrasesDiffer,
    KeyExported,    // "%s": the key's id, "%s": the file
    KeyNotWritten,  // "%s": the file
    KeyUnreadable,  // "%s": the file
    KeyWrongPassphrase,
    KeyTooMuchWork,
    KeyNotExported,
    KeyNotStored,       // "%s": why
    KeyImported,        // "%s": the key's id
    KeyImportedPartly,  // "%s": the key's id, "%s": what is left under the previous key
    KeyFileFilter,      // the file dialog's filter
    KeyInOwnFile,       // "%s": the key's id, "%s": the own key file (no keychain answered)
    KeyMoveOffer,       // a keychain answers now: the key may move there
    KeyMoveButton,
    KeyMoved,       // "%s": the key's id, "%s": the file removed
    KeyNotMoved,    // "%s": why
    KeyMadeInFile,  // "%s": the own key file, said once in the status bar
    // companyui: the company register's state, its button and the technician's name
    CompanySynchronised,        // printf format: when (the time, or the date and time)
    CompanyOffline,             // no server reached at the last try
    CompanySyncing,             // a sync is running
    CompanyNotYetSynced,        // a server is set, nothing synchronised yet
    CompanyWaitingOne,          // printf format: the count of visits not yet on the server; 1
    CompanyWaitingFew,          // 2-4, 22-24, ...
    CompanyWaitingMany,         // 0, 5-21, 25-31, ...
    CompanySyncNow,             // the Register window's button
    CompanySyncFailed,          // printf format: why the last sync did not finish
    CompanyNoDriver,            // this build has no PostgreSQL driver (the Windows kit)
    CompanyNotVerified,         // follows the state: the server's certificate is not checked (a weak sslmode)
    CompanyReadOnly,            // the server reached takes no writes (a standby)
    CompanyBusy,                // another laptop's push held the lock; the next sync tries again
    CompanyNoRootCertificate,   // "%s": the CA file the string names, missing: the server cannot be verified
    CompanyRegisterUnreadable,  // "%s": why the laptop's own register file cannot be opened (not the network)
    FieldHistory,               // the Register window's list of replaced edits
    FieldHistoryField,          // its columns: the field, when, who, old, new
    FieldHistoryWhen,
    FieldHistoryWho,
    FieldHistoryOld,
    FieldHistoryNew,
    TechnicianQuestion,       // the question of the menu entry TECHNICIAN
    CompanyServerQuestion,    // the question of the menu entry COMPANYSERVER
    CompanyServerRefused,     // printf format: libpq's reason the string is refused
    CompanyServerNoPassword,  // the string's password was not kept
    // end companyui
    Count  // not a text: how many there are
};
constexpr int kMessageCount = static_cast<int>(Message::Count);

// Lines the command-line tool prints; printf formats where they take values.
enum class ToolText {
    UsageError,   // "%s": the offending argument and why
    MissingPort,  // "%s": the ports found
    NoPortsFound,
    ProbeNoAnswer,
    Saved,  // "%s": the file written
    NoChanges,
    BlocksToSend,   // "%d" blocks, "%d" seconds of line time
    ConfirmUpload,  // question, "%d" blocks; answered on the same line
    NoTerminal,     // no question can be asked and no --yes was given
    NothingSent,
    BlocksSent,    // "%d"
    Same,          // the controller holds what the file holds
    Differences,   // "%d" bytes in "%d" blocks
    FlashTimeout,  // the bootloader stopped answering
    Yes,
    No,
    NoCards,        // the image has no resident with a call code
    CardPages,      // "%d" pages written
    ImportCounts,   // rows "%d" added, "%d" replaced, "%d" removed
    ImportRefused,  // "%d" rows refused: nothing written
    // The firmware upgrade's status lines
    FlashNoFile,   // "%s": the firmware file given
    FlashBadFile,  // "%s": the firmware file given
    FlashWrongDevice,
    FlashWaiting,  // waiting for the bootloader
    FlashProgramming,
    FlashDone,
    FlashError,             // the bootloader refused a block
    MergeUnresolved,        // "%d" conflicts: nothing sent or written
    VisitNotRecorded,       // "%s": why the register did not take the visit
    FileNotNoted,           // "%s": why the register did not note the written file's building
    StoppedAtOnce,          // a second Ctrl-C ended an upload: nothing more sent, nothing recorded
    SinceLastVisit,         // "%s" date of the last visit with an image, "%d" changes since
    SinceLastVisitOne,      // the same for one change
    OtherController,        // "%s" the building the image comes from, "%s" the one on the port
    NoSuchController,       // "%s" as given
    NoSuchVisit,            // "%s" as given
    NoIdentity,             // why a visit cannot be recorded: the probe got no answer
    CheckSides,             // "%s": the file; heads the differences the controller shows
    ProbeStatus,            // port name, ID, serial number, firmware: the probe's answer
    GuardUndecided,         // "%s": why the guard cannot tell where the image came from
    ReadFailedNothingSent,  // what the controller holds could not be read
    // keys
    ImagesNoKey,     // "%s": why there is no data key
    ImagesOtherKey,  // the register's images are sealed with a key this computer lacks
    KeyFileRefused,  // "%s": the key file's path
    KeyCannotSeal,   // a build without encryption
    KeychainOff,     // KELVANE_NO_KEYCHAIN
    KeychainFailed,  // "%s": the keychain's own words
    // the company register's server
    ServerPasswordNotKept,  // the string's password served this sync only
    ServerNotVerified,      // "%s": the sslmode that left the server unverified
    ServerNotKept,          // "%s": the string --server gave, not kept as this computer's server
    KeyMadeInFile,          // "%s": the own key file, said once when made
    KeyOwnFileNote,         // what protects the own key file
    KeyMovable,             // a keychain answers now: how to move the key there
    KeyMoved,               // "%s": the key's id, "%s": the file removed
    KeyNotMoved,            // "%s": why
    Count                   // not a text: how many there are
};
constexpr int kToolTextCount = static_cast<int>(ToolText::Count);

// Texts of the configuration check (printf formats where they take values).
enum class CheckText {
    FactoryPassword,           // password digits
    GuessablePassword,         // password digits
    GuessableOpenCode,         // physical code, open code
    GuessableOpenCodes,        // count, list
    GuessableGeneralCode,      // code
    GuessableGeneralCodes,     // count, list
    GeneralCodeIsCallAndOpen,  // general code, call code, physical code, open code
    RepeatedGeneralCode,       // code, first row, second row
    SharedKey,                 // key text, local numbers
    GeneralCodeEveryPanel,     // code
    GeneralCodesEveryPanel,    // count, list
    SettingOutOfRange,         // parameter, stored value, shown value
    NoSelection,               // the shown value of a combo box without a selection
    PlaceRow,                  // table caption, row
    Warning,                   // severities
    Information,
    Heading,  // heading of the warnings in a list
    NoWarnings,
    ColumnSeverity,  // columns of the check's window
    ColumnPlace,
    ColumnText,
    Close,
    Count  // not a text: how many there are
};
constexpr int kCheckTextCount = static_cast<int>(CheckText::Count);

// Texts by language; a language index outside 0..2 gives the Polish text.
const char* groupCaption(SettingsGroup group, int language);
// Caption of the group box around a code grid ("Lokatorzy" / "Users").
inline std::string gridCaption(GridId grid, int language) { return groupCaption(gridGroup(grid), language); }
const char* cardText(CardText entry, int language);
const char* messageText(Message entry, int language);
const char* toolText(ToolText entry, int language);
const char* checkText(CheckText entry, int language);

// The name a text's row is written with: "Message::LoadError".
const char* textName(SettingsGroup group);
const char* textName(CardText entry);
const char* textName(Message entry);
const char* textName(ToolText entry);
const char* textName(CheckText entry);

}  // namespace kelvane::texts
