#include "texts/company_texts.h"

#include "texts/language_table.h"

#include <cstddef>

namespace kelvane::texts {

using registry::Resend;
using registry::ServerProblem;
using registry::SetupStep;
using registry::SkipReason;
using registry::StringProblem;

namespace {

constexpr const char M[] = "...";

// %1 and %2 take the reason's detail and other, as each ServerProblem says.
constexpr Row<ServerProblem> kProblems[] = {
    TEXT_ROW(ServerProblem::None, "", "", ""),
    TEXT_ROW(ServerProblem::NoDriver, "rejestr firmy wymaga sterownika PostgreSQL, którego ta wersja programu nie ma",
             "the company register needs the PostgreSQL driver, which this build lacks", M),
    TEXT_ROW(ServerProblem::BadString, "ciąg połączenia z serwerem: %1", "the server's string: %1", "...: %1"),
    TEXT_ROW(ServerProblem::RegisterNotOpen, "nie można otworzyć rejestru na tym komputerze: %1",
             "this computer's register cannot be opened: %1", "...: %1"),
    TEXT_ROW(ServerProblem::RegisterTooOld, "rejestr na tym komputerze jest zbyt stary, by go synchronizować",
             "the register's schema is too old to sync", M),
    TEXT_ROW(ServerProblem::RegisterFault, "rejestr na tym komputerze: %1: %2", "register: %1: %2", "...: %1: %2"),
    TEXT_ROW(ServerProblem::ImagesNotSealed, "obrazy rejestru nie są zaszyfrowane kluczem tego komputera (%1)",
             "the register's images are not sealed with this computer's key (%1)", "... (%1)"),
    TEXT_ROW(ServerProblem::OtherKey,
             "obrazy rejestru firmy są zaszyfrowane innym kluczem (%1, klucz tego komputera: %2): najpierw zaimportuj "
             "klucz firmy (kvtool key import)",
             "the company register's images are sealed with another key (%1, this computer's is %2): import the "
             "company's key first (kvtool key import)",
             "... (%1, %2)"),
    TEXT_ROW(ServerProblem::KeyChanged,
             "w trakcie synchronizacji obrazy rejestru firmy zaszyfrowano innym kluczem: najpierw zaimportuj klucz "
             "firmy (kvtool key import)",
             "the company register's images were sealed with another key during the sync: import the company's key "
             "first (kvtool key import)",
             M),
    TEXT_ROW(ServerProblem::NoRootCertificate,
             "nie można sprawdzić serwera rejestru firmy: brak certyfikatu CA %1 (umieść tam certyfikat CA firmy albo "
             "wskaż jego plik przez sslrootcert=PLIK w ciągu połączenia)",
             "the company register's server cannot be verified: there is no CA certificate %1 (put the company's CA "
             "there, or name its file with sslrootcert=FILE in the server's string)",
             "...%1..."),
    TEXT_ROW(ServerProblem::Unreachable, "nie można połączyć się z rejestrem firmy: %1",
             "cannot reach the company register: %1", "...: %1"),
    TEXT_ROW(ServerProblem::ReadOnly,
             "serwer rejestru firmy jest tylko do odczytu (%1): laptopy potrzebują serwera głównego; wpisz wszystkie "
             "serwery i target_session_attrs=read-write",
             "the company register's server is read-only (%1): the laptops need the primary; list every host with "
             "target_session_attrs=read-write",
             "... (%1)"),
    TEXT_ROW(ServerProblem::Stalled, "rejestr firmy przestał odpowiadać (nic przez %1 s); to, co przeszło wcześniej, zostaje",
             "the company register stopped answering (nothing for %1 s); what went before is kept", "... %1"),
    TEXT_ROW(ServerProblem::Busy, "inny laptop wysyła do rejestru firmy, ponowna próba przy następnej synchronizacji",
             "another laptop is sending to the company register, trying again at the next sync", M),
    TEXT_ROW(ServerProblem::NoSchema, "rejestr firmy nie ma jeszcze schematu: najpierw uruchom kvtool register server-setup",
             "the company register has no schema yet: run kvtool register server-setup first", M),
    TEXT_ROW(ServerProblem::SchemaNewer,
             "schemat rejestru firmy (wersja %1) jest nowszy niż ten program: zaktualizuj program",
             "the company register's schema (version %1) is newer than this program's: update the program", "... %1"),
    TEXT_ROW(ServerProblem::TableMissing,
             "w rejestrze firmy brakuje tabeli %1: kvtool register server-setup utworzy ją ponownie",
             "the company register lacks its table %1: run kvtool register server-setup, which makes it again", "... %1"),
    TEXT_ROW(ServerProblem::ServerFault, "rejestr firmy: %1: %2; to, co przeszło wcześniej, zostaje",
             "company register: %1: %2; what went before is kept", "...: %1: %2"),
    TEXT_ROW(ServerProblem::Cancelled, "przerwano; to, co przeszło wcześniej, zostaje",
             "cancelled; what went before is kept", M),
};
static_assert(rowsMatch(kProblems) && rowInPlace<misplacedRow(kProblems)>(), "a text for each ServerProblem");

constexpr Row<StringProblem> kStrings[] = {
    TEXT_ROW(StringProblem::None, "", "", ""),
    TEXT_ROW(StringProblem::Empty, "nie podano serwera", "no server given", M),
    TEXT_ROW(StringProblem::TooLong, "ciąg ma ponad 4000 znaków", "it is longer than 4,000 characters", M),
    TEXT_ROW(StringProblem::Unreadable, "%1", "%1", "%1"),  // libpq's own words
    TEXT_ROW(StringProblem::Semicolon, "wartość %1 zawiera ';', którego sterownik nie przekaże",
             "the value of %1 holds a ';', which the driver cannot pass on", "... %1"),
    TEXT_ROW(StringProblem::AmbiguousPassword,
             "nie da się oddzielić hasła od reszty (zapisz '/' jako %2F, a '@' jako %40, albo trzymaj hasło w "
             "~/.pgpass)",
             "its password cannot be told from the rest (write '/' as %2F and '@' as %40, or keep the password in "
             "~/.pgpass)",
             M),
};
static_assert(rowsMatch(kStrings) && rowInPlace<misplacedRow(kStrings)>(), "a text for each StringProblem");

constexpr Row<Resend> kResend[] = {
    TEXT_ROW(Resend::None, "", "", ""),
    TEXT_ROW(Resend::OtherCluster,
             "rejestr firmy jest teraz innym klastrem lub linią czasu (odtworzony albo przełączony): wszystko "
             "zostanie wysłane i pobrane ponownie",
             "the company register is another cluster or timeline now (restored or promoted): everything is sent "
             "and fetched again",
             M),
    TEXT_ROW(Resend::ChangesBehind,
             "numery zmian rejestru firmy są wcześniejsze niż to, co pobrał ten laptop (odtworzony z kopii?): "
             "wszystko zostanie wysłane i pobrane ponownie",
             "the company register's change numbers are behind what this laptop pulled (restored from a backup?): "
             "everything is sent and fetched again",
             M),
    TEXT_ROW(Resend::VisitMissing,
             "w rejestrze firmy nie ma już wizyty wysłanej przez ten laptop (odtworzony z kopii?): wszystko zostanie "
             "wysłane i pobrane ponownie",
             "a visit this laptop sent is no longer on the company register (restored from a backup?): everything "
             "is sent and fetched again",
             M),
    TEXT_ROW(Resend::RegisterOlder,
             "ten rejestr jest starszy niż to, co wysłał ten laptop (przywrócony z kopii?): wszystko zostanie "
             "pobrane ponownie",
             "this register is older than what this laptop sent (put back from a copy?): everything is fetched again", M),
};
static_assert(rowsMatch(kResend) && rowInPlace<misplacedRow(kResend)>(), "a text for each Resend");

constexpr Row<SetupStep> kSetup[] = {
    TEXT_ROW(SetupStep::Created, "utworzono schemat rejestru firmy (wersja %1)",
             "created the company register's schema (version %1)", "... %1"),
    TEXT_ROW(SetupStep::Migrated, "schemat zaktualizowano do wersji %1", "migrated the schema to version %1", "... %1"),
    TEXT_ROW(SetupStep::TablesMadeAgain,
             "ponownie utworzono brakujące tabele (%2); przy następnej synchronizacji każdy laptop wyśle i pobierze "
             "wszystko ponownie",
             "made the missing tables again (%2); every laptop sends and fetches everything again at its next sync",
             "... (%2)"),
    TEXT_ROW(SetupStep::NothingToDo, "schemat jest w wersji %1: nie ma nic do zrobienia",
             "the schema is at version %1: nothing to do", "... %1"),
};
static_assert(rowsMatch(kSetup) && rowInPlace<misplacedRow(kSetup)>(), "a text for each SetupStep");

// %1 the field, %2 its limit, %3 the row's size.
constexpr Row<SkipReason> kSkip[] = {
    TEXT_ROW(SkipReason::TooLong, "%1 dłuższe niż %2 znaków", "%1 longer than %2 characters", "%1 %2"),
    TEXT_ROW(SkipReason::TooLarge, "%1 większe niż %2 bajtów (%3)", "%1 longer than %2 bytes (%3)", "%1 %2 (%3)"),
    TEXT_ROW(SkipReason::NoIdentity, "brak tożsamości sterownika", "no controller's identity", M),
    TEXT_ROW(SkipReason::BaseRefused, "obraz, którego obraz bazowy odrzucono", "an image whose base image was refused", M),
    TEXT_ROW(SkipReason::ImageRefused, "wiersz, którego obraz odrzucono", "a row whose image was refused", M),
    TEXT_ROW(SkipReason::MissingFields, "brak tego, co wiersz musi zawierać (rodzaj, sterownik, czas albo pole)",
             "without what the row must hold (its kind, controller, time or field)", M),
    TEXT_ROW(SkipReason::NeverHanded, "wiersze z numerem zmiany, którego rejestr firmy nigdy nie nadał",
             "rows with a change number the company register never handed out are left out", M),
};
static_assert(rowsMatch(kSkip) && rowInPlace<misplacedRow(kSkip)>(), "a text for each SkipReason");

constexpr Row<SyncText> kSync[] = {
    TEXT_ROW(SyncText::Pushed, "wysłano: %1", "pushed: %1", "...: %1"),
    TEXT_ROW(SyncText::Pulled, "pobrano: %1", "pulled: %1", "...: %1"),
    TEXT_ROW(SyncText::Nothing, "nic", "nothing", M),
    TEXT_ROW(SyncText::Controllers, "sterowniki %1", "controllers %1", "... %1"),
    TEXT_ROW(SyncText::Visits, "wizyty %1", "visits %1", "... %1"),
    TEXT_ROW(SyncText::SavedFiles, "zapisane pliki %1", "saved files %1", "... %1"),
    TEXT_ROW(SyncText::Images, "obrazy %1", "images %1", "... %1"),
    TEXT_ROW(SyncText::FieldEdits, "zmiany opisu %1", "field edits %1", "... %1"),
    TEXT_ROW(SyncText::Withdrawn, "wycofane %1", "withdrawn %1", "... %1"),
    TEXT_ROW(SyncText::Traffic, " (wiersze %1, bajty %2)", " (rows %1, bytes %2)", " (%1, %2)"),
    TEXT_ROW(SyncText::SkippedRow, "pominięto wiersz z rejestru firmy: %1",
             "skipped a row from the company register: %1", "...: %1"),
    TEXT_ROW(SyncText::SkippedMore, "pominięto jeszcze wierszy: %1", "and %1 more rows skipped", "... %1"),
};
static_assert(rowsMatch(kSync) && rowInPlace<misplacedRow(kSync)>(), "a text for each SyncText");

}  // namespace

const char* syncText(SyncText text, int language) { return rowText(kSync, text, language); }
const char* problemText(ServerProblem problem, int language) { return rowText(kProblems, problem, language); }
const char* stringProblemText(StringProblem problem, int language) { return rowText(kStrings, problem, language); }
const char* resendReasonText(Resend why, int language) { return rowText(kResend, why, language); }
const char* setupText(SetupStep step, int language) { return rowText(kSetup, step, language); }
const char* skipText(SkipReason reason, int language) { return rowText(kSkip, reason, language); }
const char* textName(SyncText text) { return kSync[static_cast<std::size_t>(text)].name; }
const char* textName(ServerProblem problem) { return kProblems[static_cast<std::size_t>(problem)].name; }
const char* textName(StringProblem problem) { return kStrings[static_cast<std::size_t>(problem)].name; }
const char* textName(Resend why) { return kResend[static_cast<std::size_t>(why)].name; }
const char* textName(SetupStep step) { return kSetup[static_cast<std::size_t>(step)].name; }
const char* textName(SkipReason reason) { return kSkip[static_cast<std::size_t>(reason)].name; }

std::string serverReasonText(const registry::ServerReason& reason, int language) {
    if (reason.problem == ServerProblem::BadString)
        return filled(problemText(reason.problem, language),
                      {filled(stringProblemText(reason.string, language), {reason.detail})});
    return filled(problemText(reason.problem, language), {reason.detail, reason.other});
}

std::string setupStepText(const registry::SetupDone& done, int language) {
    return filled(setupText(done.step, language), {std::to_string(done.version), done.tables});
}

std::string skippedRowText(const registry::SkippedRow& row, int language) {
    const std::string why =
        filled(skipText(row.reason, language), {row.field, std::to_string(row.limit), std::to_string(row.size)});
    return filled(syncText(SyncText::SkippedRow, language), {row.table.empty() ? why : row.table + ": " + why});
}

std::string skippedMoreText(int more, int language) {
    return filled(syncText(SyncText::SkippedMore, language), {std::to_string(more)});
}

std::string syncCountsText(const registry::SyncCounts& c, bool pushed, int language) {
    const struct {
        SyncText text;
        long long n;
    } kinds[] = {{SyncText::Controllers, c.controllers}, {SyncText::Visits, c.visits},
                 {SyncText::SavedFiles, c.savedFiles},   {SyncText::Images, c.images},
                 {SyncText::FieldEdits, c.fieldEdits},   {SyncText::Withdrawn, c.withdrawn}};
    std::string list;
    for (const auto& k : kinds) {
        if (k.n == 0) continue;
        if (!list.empty()) list += ", ";
        list += filled(syncText(k.text, language), {std::to_string(k.n)});
    }
    if (list.empty()) list = syncText(SyncText::Nothing, language);
    if (c.rows > 0)
        list += filled(syncText(SyncText::Traffic, language), {std::to_string(c.rows), std::to_string(c.bytes)});
    return filled(syncText(pushed ? SyncText::Pushed : SyncText::Pulled, language), {list});
}

}  // namespace kelvane::texts
