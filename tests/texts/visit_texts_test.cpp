#include "texts/company_texts.h"
#include "texts/language_table.h"
#include "texts/visit_texts.h"

#include <gtest/gtest.h>

using namespace kelvane::texts;

TEST(VisitTexts, OutcomesReadInTheLanguageAndUnknownWordsAsStored) {
    const struct {
        const char* stored;
        const char* polish;
        const char* english;
    } cases[] = {
        {"completed", "ukończono", "completed"},
        {"backup failed", "kopia nieudana", "backup failed"},
        {"completed, firmware 259 -> 106", "ukończono, oprogramowanie 259 → 106", "completed, firmware 259 → 106"},
        // Written by a later version, or damaged: shown as stored.
        {"rolled back", "rolled back", "rolled back"},
        {"completed, firmware 259", "completed, firmware 259", "completed, firmware 259"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outcomeText(c.stored, kPolish), c.polish) << c.stored;
        EXPECT_EQ(outcomeText(c.stored, kEnglish), c.english) << c.stored;
    }
}

TEST(VisitTexts, OneDateFormatPerLanguageWithSeconds) {
    const struct {
        LocalTime time;
        const char* polish;
        const char* english;
    } cases[] = {
        {{2026, 12, 9, 11, 10, 5}, "9.12.2026 11:10:05", "9 Dec 2026 11:10:05"},
        {{2026, 1, 31, 0, 0, 0}, "31.01.2026 00:00:00", "31 Jan 2026 00:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dateTimeText(c.time, kPolish), c.polish);
        EXPECT_EQ(dateTimeText(c.time, kEnglish), c.english);
    }
}

TEST(VisitTexts, AColleaguesVisitNamesThemShortlyAndOwnVisitsNameNobody) {
    const struct {
        const char *technician, *me, *shown;
    } cases[] = {
        {"Jan Kowalski", "Anna Nowak", "3.11.2026 (Jan K.)"},
        {"  Łukasz   Żak ", "anowak", "3.11.2026 (Łukasz Ż.)"},
        {"Anna Maria Nowak", "", "3.11.2026 (Anna N.)"},
        {"jkowalski", "anowak", "3.11.2026 (jkowalski)"},  // a login name stays as it is
        {"Jan Kowalski", "jan  kowalski", "3.11.2026"},    // the same person
        {"", "anowak", "3.11.2026"},                       // nobody recorded
    };
    for (const auto& c : cases) EXPECT_EQ(visitDateWithWho("3.11.2026", c.technician, c.me), c.shown) << c.technician;
}

TEST(VisitTexts, TheCompanyRegistersStateReadsInBothLanguages) {
    using kelvane::registry::ServerProblem;
    const LocalTime now{2026, 12, 9, 16, 0, 0};
    const LocalTime today{2026, 12, 9, 10, 42, 7}, earlier{2026, 12, 8, 9, 5, 0};
    const auto why = [](ServerProblem p, const std::string& detail = {}) {
        return kelvane::registry::ServerReason{p, kelvane::registry::StringProblem::None, detail, {}};
    };
    const kelvane::registry::ServerReason none;
    const struct {
        CompanyRegisterState state;
        const char *polish, *english;
    } cases[] = {
        {{false, false, true, today, 3, none}, "", ""},  // no server: nothing at all
        {{true, false, false, today, 0, none}, "Rejestr firmy: zsynchronizowano 10:42", "Company register: synchronised 10:42"},
        {{true, false, false, earlier, 0, none},
         "Rejestr firmy: zsynchronizowano 8.12.2026 09:05",
         "Company register: synchronised 8 Dec 2026 09:05"},
        {{true, false, true, today, 3, none},
         "Rejestr firmy: bez połączenia — 3 wizyty czekają",
         "Company register: offline — 3 visits waiting"},
        {{true, false, true, {}, 1, none},
         "Rejestr firmy: bez połączenia — 1 wizyta czeka",
         "Company register: offline — 1 visit waiting"},
        {{true, false, true, {}, 12, none},
         "Rejestr firmy: bez połączenia — 12 wizyt czeka",
         "Company register: offline — 12 visits waiting"},
        {{true, false, true, {}, 22, none},
         "Rejestr firmy: bez połączenia — 22 wizyty czekają",
         "Company register: offline — 22 visits waiting"},
        {{true, false, false, {}, 0, none},
         "Rejestr firmy: jeszcze nie zsynchronizowano",
         "Company register: not yet synchronised"},
        // A server's refusal in the language shown, its details as they are.
        {{true, false, false, today, 5, why(ServerProblem::SchemaNewer, "9")},
         "Rejestr firmy: zsynchronizowano 10:42 — synchronizacja nieudana: schemat rejestru firmy (wersja 9) jest "
         "nowszy niż ten program: zaktualizuj program — 5 wizyt czeka",
         "Company register: synchronised 10:42 — synchronisation failed: the company register's schema (version 9) is "
         "newer than this program's: update the program — 5 visits waiting"},
        {{true, true, true, today, 3, none}, "Rejestr firmy: synchronizacja…", "Company register: synchronising…"},
        {{true, false, false, {}, 2, why(ServerProblem::NoDriver), true},
         "Rejestr firmy: ta wersja programu nie ma sterownika PostgreSQL — 2 wizyty czekają",
         "Company register: this build lacks the PostgreSQL driver — 2 visits waiting"},
        // The server's own states say why without the failure's words; a weak sslmode follows every state.
        {{true, false, false, today, 2, why(ServerProblem::ReadOnly, "db2:5432"), false, true},
         "Rejestr firmy: serwer tylko do odczytu — 2 wizyty czekają — serwer niezweryfikowany",
         "Company register: the server is read-only — 2 visits waiting — server not verified"},
        {{true, false, false, today, 0, why(ServerProblem::Busy)},
         "Rejestr firmy: inny laptop wysyła do rejestru firmy, ponowna próba wkrótce",
         "Company register: another laptop is sending to the company register, trying again shortly"},
        {{true, true, false, today, 0, none, false, true},
         "Rejestr firmy: synchronizacja… — serwer niezweryfikowany",
         "Company register: synchronising… — server not verified"},
        // The laptop's own register unreadable: said so, not "offline".
        {{true, false, false, {}, 0, none, false, false, "not a register: /tmp/r.sqlite"},
         "Rejestr firmy: nie można otworzyć rejestru na tym komputerze: not a register: /tmp/r.sqlite",
         "Company register: this computer's register cannot be opened: not a register: /tmp/r.sqlite"},
        // A verified server without its CA file: the file to put there.
        {{true, false, false, today, 1, why(ServerProblem::NoRootCertificate, "/home/jan/.postgresql/root.crt")},
         "Rejestr firmy: nie można sprawdzić serwera, brak certyfikatu CA /home/jan/.postgresql/root.crt — 1 wizyta czeka",
         "Company register: the server cannot be verified, no CA certificate /home/jan/.postgresql/root.crt — 1 visit "
         "waiting"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(companyRegisterText(c.state, now, kPolish), c.polish);
        EXPECT_EQ(companyRegisterText(c.state, now, kEnglish), c.english);
    }
}

// The company register's reasons and counts: details go in as they are
// (libpq's words, a password's %2F hint), and only kinds that travelled are counted.
TEST(CompanyTexts, ReasonsAndCountsFillInTheirDetails) {
    namespace reg = kelvane::registry;
    using P = reg::ServerProblem;
    using S = reg::StringProblem;
    const struct {
        reg::ServerReason reason;
        const char *polish, *english;
    } reasons[] = {
        {{P::BadString, S::Unreadable, "missing \"=\" after \"x\"", {}},
         "ciąg połączenia z serwerem: missing \"=\" after \"x\"",
         "the server's string: missing \"=\" after \"x\""},
        {{P::BadString, S::AmbiguousPassword, {}, {}},
         "ciąg połączenia z serwerem: nie da się oddzielić hasła od reszty (zapisz '/' jako %2F, a '@' jako %40, albo "
         "trzymaj hasło w ~/.pgpass)",
         "the server's string: its password cannot be told from the rest (write '/' as %2F and '@' as %40, or keep the "
         "password in ~/.pgpass)"},
        {{P::ServerFault, S::None, "visits", "ERROR: 50%1 off"},
         "rejestr firmy: visits: ERROR: 50%1 off; to, co przeszło wcześniej, zostaje",
         "company register: visits: ERROR: 50%1 off; what went before is kept"},
    };
    for (const auto& r : reasons) {
        EXPECT_EQ(serverReasonText(r.reason, kPolish), r.polish);
        EXPECT_EQ(serverReasonText(r.reason, kEnglish), r.english);
    }
    reg::SyncCounts counts;
    EXPECT_EQ(syncCountsText(counts, false, kEnglish), "pulled: nothing");
    counts.visits = 3;
    counts.withdrawn = 1;
    counts.rows = 5;
    counts.bytes = 900;
    EXPECT_EQ(syncCountsText(counts, true, kPolish), "wysłano: wizyty 3, wycofane 1 (wiersze 5, bajty 900)");
    EXPECT_EQ(skippedRowText({"visits", reg::SkipReason::TooLong, "technician", 200, 0}, kEnglish),
              "skipped a row from the company register: visits: technician longer than 200 characters");
}
