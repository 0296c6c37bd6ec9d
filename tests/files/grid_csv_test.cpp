#include "files/cp1250.h"
#include "files/data_file.h"
#include "files/grid_csv.h"
#include "image/codecs.h"
#include "sim/sample_building.h"
#include "image/window_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace kelvane;

namespace {

const GridId kGrids[] = {GridId::Keys, GridId::Residents, GridId::GeneralCodes, GridId::Digitizers};

// Two made-up languages; the second has a non-ASCII header.
GridCsvHeaders testHeaders() {
    GridCsvHeaders h;
    h[0] = {{"Lokal", "Klucz"}, {"Local", "Key"}};
    h[1] = {{"Kod fizyczny", "Kod logiczny", "Kod otwarcia", "Kod główny"}, {"Physical", "Logical", "Open", "Main"}};
    h[2] = {{"Kod", "Panel", "Magistrala"}, {"Code", "Panel", "Bus"}};
    h[3] = {{"Kod fizyczny", "Digitalizer", "Klawisz"}, {"Physical", "Digitizer", "Button"}};
    return h;
}

std::string keyText(int serial) {
    std::uint8_t rec[8] = {0, 1, 0, 0, 0, 0, static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial)};
    return FormatKeyText(rec);
}

CsvImport import(GridId id, const std::string& bytes, CsvImportMode mode = CsvImportMode::Replace,
                 const Grid& current = Grid::make(0)) {
    Grid cur = current.columns() ? current : Grid::make(gridColumns(id));
    return importGridCsv(id, bytes, cur, mode, testHeaders());
}

std::vector<Grid::Row> dataRows(const Grid& g) { return {g.rows.begin() + 1, g.rows.end()}; }

}  // namespace

TEST(GridCsv, EveryGridOfAFullImageSurvivesExportAndImport) {
    const WindowData window = showImage(sampleBuildingImage());
    for (GridId id : kGrids) {
        const Grid& grid = window.grid(id);
        ASSERT_GT(grid.rowCount(), 2) << csvTableName(id);
        const std::string csv = exportGridCsv(grid, testHeaders()[static_cast<int>(id)][0]);
        EXPECT_EQ(csv.compare(0, 3, "\xEF\xBB\xBF"), 0);
        const CsvImport back = import(id, csv);
        EXPECT_EQ(back.fault, CsvFileFault::None);
        EXPECT_TRUE(back.header);
        EXPECT_TRUE(back.refused.empty()) << csvTableName(id) << " line " << back.refused[0].line;
        EXPECT_EQ(back.added, grid.rowCount() - 1);
        EXPECT_EQ(dataRows(back.grid), dataRows(grid)) << csvTableName(id);
        GridId named;
        EXPECT_TRUE(gridFromCsvTableName(csvTableName(id), named));
        EXPECT_EQ(named, id);
    }
}

TEST(GridCsv, SeparatorsEncodingsHeadersAndQuotes) {
    struct Case {
        const char* what;
        GridId id;
        std::string bytes;
        char separator;
        bool windows1250, header;
        std::vector<Grid::Row> rows;
    };
    const std::string bom = "\xEF\xBB\xBF";
    const Case cases[] = {
        {"semicolons, CR LF, no header", GridId::Keys, "1;K10\r\n2;K20\r\n", ';', false, false, {{"1", "K10"}, {"2", "K20"}}},
        {"commas, LF, spaces trimmed", GridId::GeneralCodes, "Code,Panel,Bus\n 7 , 3 ,1\n", ',', false, true, {{"7", "3", "1"}}},
        {"tabs, lone CR", GridId::GeneralCodes, "Kod\tPanel\tMagistrala\r8\t\t\r", '\t', false, true, {{"8", "", ""}}},
        {"header in upper case", GridId::GeneralCodes, "CODE;PANEL;BUS\n9;1;0\n", ';', false, true, {{"9", "1", "0"}}},
        // (separators and doubled quotes inside quotes: the formula test's header)
        {"quoted fields", GridId::GeneralCodes, "\"12\";\" 3\";0\n", ';', false, false, {{"12", "3", "0"}}},
        {"comma inside quotes does not pick the separator",
         GridId::Digitizers,
         "\"1,5\";4;3\n",
         ';',
         false,
         false,
         {{"1,5", "4", "3"}}},
        {"blank lines and empty records skipped", GridId::GeneralCodes, "\n;;\n5;;\n\n", ';', false, false, {{"5", "", ""}}},
        {"UTF-8 header with mark", GridId::GeneralCodes, bom + "Kod;Panel;Magistrala\n4;2;1\n", ';', false, true, {{"4", "2", "1"}}},
        {"Windows-1250 header",
         GridId::Residents,
         utf8ToCp1250("Kod fizyczny;Kod logiczny;Kod otwarcia;Kod główny\n") + "1.5;15;1234;\n",
         ';',
         true,
         true,
         {{"1.5", "15", "1234", ""}}},
    };
    for (const Case& c : cases) {
        const GridId id = c.id;
        // Keys need valid key texts: "K<n>" stands for the key of serial n.
        std::string bytes = c.bytes;
        std::vector<Grid::Row> rows = c.rows;
        if (id == GridId::Keys)
            for (auto& r : rows) {
                const std::string k = keyText(std::stoi(r[1].substr(1)));
                bytes.replace(bytes.find(r[1]), r[1].size(), k);
                r[1] = k;
            }
        const CsvImport got = import(id, bytes);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(got.fault, CsvFileFault::None);
        EXPECT_EQ(got.separator, c.separator);
        EXPECT_EQ(got.windows1250, c.windows1250);
        EXPECT_EQ(got.header, c.header);
        EXPECT_TRUE(got.refused.empty());
        EXPECT_EQ(dataRows(got.grid), rows);
    }
}

TEST(GridCsv, RefusedRowsAreNamedByTheirLine) {
    // Line 3 is a quoted field over two lines, so the lines below count on.
    const std::string csv =
        "Kod fizyczny;Kod logiczny;Kod otwarcia;Kod główny\n"
        "1.1;11;;\n"
        "\"1\n.2\";12;;\n"       // a line break inside a cell: invalid
        "3.1;31;;\n"             // line 3 is not a handset line
        "1.1;99;;\n"             // same slot as line 2
        "1.3;13;;;x\n"           // a fifth field
        "1.4;14;;;\n"            // an empty fifth field is fine
        "1.6;12a4;O123;99999\n"  // codes no typing makes
        "1.7;17;;99999\n"        // five digits where four fit
        "1.8;;0000;0\n"          // no code: nothing would be stored
        "1.5;\"15;;\n";          // quote open to the end
    const CsvImport got = import(GridId::Residents, csv);
    ASSERT_EQ(got.fault, CsvFileFault::None);
    const struct {
        int line;
        CsvRowProblem problem;
        CellProblem cell;
        int column;
    } want[] = {{3, CsvRowProblem::BadCell, CellProblem::NotPhysicalCode, 0},
                {5, CsvRowProblem::Invalid, CellProblem::None, -1},
                {6, CsvRowProblem::Repeated, CellProblem::None, -1},
                {7, CsvRowProblem::TooManyFields, CellProblem::None, -1},
                {9, CsvRowProblem::BadCell, CellProblem::NotDigits, 1},
                {10, CsvRowProblem::BadCell, CellProblem::TooManyDigits, 3},
                {11, CsvRowProblem::BadCell, CellProblem::NoCode, 1},
                {12, CsvRowProblem::OpenQuote, CellProblem::None, -1}};
    ASSERT_EQ(got.refused.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        EXPECT_EQ(got.refused[i].line, want[i].line);
        EXPECT_EQ(got.refused[i].problem, want[i].problem) << got.refused[i].line;
        EXPECT_EQ(got.refused[i].cell.problem, want[i].cell) << got.refused[i].line;
        EXPECT_EQ(got.refused[i].cell.column, want[i].column) << got.refused[i].line;
    }
    EXPECT_EQ(got.refused[5].cell.limit, 4);
    EXPECT_EQ(got.refused[2].otherLine, 2);
    EXPECT_EQ(got.added, 2);  // 1.1 and 1.4
}

TEST(GridCsv, ReplaceOrAppendAndTheTablesCapacity) {
    Grid current = Grid::make(2);
    current.rows[0] = {"Lokal", "Klucz"};
    current.rows[1] = {"1", keyText(1)};
    current.append({"2", keyText(2)});
    current.append({"", ""});
    current.append({"x", "not a key"});  // kept as typed in Append; verification reports it
    const std::string csv = "5;" + keyText(2) + "\n6;" + keyText(6) + "\n";

    // Replace counts what changed: the same key with another local number is
    // replaced, a row the file repeats is no change.
    const CsvImport replace = import(GridId::Keys, csv, CsvImportMode::Replace, current);
    EXPECT_EQ(replace.removed, 2);
    EXPECT_EQ(replace.added, 1);
    EXPECT_EQ(replace.replaced, 1);
    EXPECT_EQ(replace.grid.rows[0], current.rows[0]);
    EXPECT_EQ(dataRows(replace.grid), (std::vector<Grid::Row>{{"5", keyText(2)}, {"6", keyText(6)}}));
    const CsvImport oneCell =
        import(GridId::Keys, "1;" + keyText(1) + "\n7;" + keyText(2) + "\n", CsvImportMode::Replace, current);
    EXPECT_EQ(std::vector<int>({oneCell.added, oneCell.replaced, oneCell.removed, oneCell.unchanged}),
              std::vector<int>({0, 1, 1, 1}));

    const CsvImport append = import(GridId::Keys, csv, CsvImportMode::Append, current);
    EXPECT_EQ(append.removed, 0);
    EXPECT_EQ(append.added, 1);
    EXPECT_EQ(append.replaced, 1);
    EXPECT_EQ(dataRows(append.grid),
              (std::vector<Grid::Row>{{"1", keyText(1)}, {"5", keyText(2)}, {"x", "not a key"}, {"6", keyText(6)}}));

    // More general codes than the table holds: the surplus is refused by line.
    std::string many;
    for (int i = 1; i <= tableCapacity(GridId::GeneralCodes) + 2; ++i) many += std::to_string(i) + ";1;0\n";
    const CsvImport full = import(GridId::GeneralCodes, many);
    EXPECT_EQ(full.added, tableCapacity(GridId::GeneralCodes));
    ASSERT_EQ(full.refused.size(), 2u);
    EXPECT_EQ(full.refused[0].problem, CsvRowProblem::TableFull);
    EXPECT_EQ(full.refused[0].line, tableCapacity(GridId::GeneralCodes) + 1);
}

TEST(GridCsv, CellsASpreadsheetWouldRunAreMarkedAsTextAndComeBackExactly) {
    // Header texts are free text, so they show the round trip of any cell.
    GridCsvHeaders h = testHeaders();
    h[2][1] = {"=HYPERLINK(\"http://x\";\"y\")", "+Panel", "'Bus"};
    Grid g = Grid::make(3);
    g.rows[1] = {"7", "1", "0"};
    for (const std::string cell : {"-1", "@SUM(A1)", "\tx", "\rx"}) {
        EXPECT_NE(exportGridCsv(g, {cell}).find("'" + cell), std::string::npos) << cell;
    }
    const std::string csv = exportGridCsv(g, h[2][1]);
    EXPECT_NE(csv.find("\"'=HYPERLINK("), std::string::npos) << csv;
    EXPECT_NE(csv.find(";'+Panel;''Bus\r\n7;1;0"), std::string::npos) << csv;
    const CsvImport back = importGridCsv(GridId::GeneralCodes, csv, g, CsvImportMode::Replace, h);
    EXPECT_TRUE(back.header);
    EXPECT_EQ(dataRows(back.grid), dataRows(g));
    // The text mark a spreadsheet user puts before a number to keep its zeros.
    EXPECT_EQ(dataRows(import(GridId::GeneralCodes, "'0123;'1;0\n").grid), (std::vector<Grid::Row>{{"0123", "1", "0"}}));
}

TEST(GridCsv, FilesOfTheWrongKindChangeNothing) {
    Grid current = Grid::make(2);
    current.rows[1] = {"1", keyText(1)};
    const auto kvd = writeDataFile(sampleBuildingImage(), "Opis");
    const struct {
        std::string bytes;
        CsvFileFault fault;
    } cases[] = {
        {"", CsvFileFault::Empty},
        {"\xEF\xBB\xBF\r\n\r\n", CsvFileFault::Empty},
        {"Lokal;Klucz\r\n", CsvFileFault::Empty},
        {std::string("1;2\0\0\x01", 6), CsvFileFault::Binary},
        {std::string(kvd.begin(), kvd.end()), CsvFileFault::DataFile},
        {"Physical;Digitizer;Button\n1.1;4;0\n", CsvFileFault::OtherTable},
    };
    for (const auto& c : cases) {
        const CsvImport got = import(GridId::Keys, c.bytes, CsvImportMode::Replace, current);
        EXPECT_EQ(got.fault, c.fault) << c.bytes.size();
        EXPECT_EQ(got.grid.rows, current.rows);
        EXPECT_EQ(got.added + got.removed, 0);
    }
    EXPECT_EQ(import(GridId::Keys, cases[5].bytes).otherGrid, GridId::Digitizers);
}

TEST(GridCsv, TextFilesAreWrittenWholeOrNotAtAllAndReadWithinBounds) {
    const std::string dir = testing::TempDir() + "/csv_" + std::to_string(std::random_device{}());
    std::filesystem::create_directory(dir);
    const std::string path = dir + "/t.csv";
    std::string back;
    EXPECT_TRUE(saveTextFile(path, "a;b\r\n"));
    ASSERT_TRUE(loadFileBytes(path, back));
    EXPECT_EQ(back, "a;b\r\n");
    EXPECT_FALSE(saveTextFile(dir + "/no/such/dir/x.csv", "x"));
    EXPECT_FALSE(saveTextFile(dir, "x"));
    std::filesystem::resize_file(path, kMaxCsvBytes);  // the limit itself is read
    ASSERT_TRUE(loadFileBytes(path, back));
    EXPECT_EQ(back.size(), kMaxCsvBytes);
    std::filesystem::resize_file(path, kMaxCsvBytes + 1);
    std::vector<std::pair<std::string, ReadFault>> cases = {
        {dir + "/no/such/file.csv", ReadFault::Failed}, {dir, ReadFault::NotRegular}, {path, ReadFault::TooLarge}};
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir + "/fifo.csv").c_str(), 0600), 0);
    cases.push_back({dir + "/fifo.csv", ReadFault::NotRegular});  // would wait for a writer
    cases.push_back({"/dev/zero", ReadFault::NotRegular});        // would never end
#endif
    for (const auto& [file, want] : cases) {
        ReadFault fault = ReadFault::None;
        EXPECT_FALSE(loadFileBytes(file, back, &fault)) << file;
        EXPECT_EQ(fault, want) << file;
        EXPECT_TRUE(back.empty());
    }
    std::filesystem::remove_all(dir);
}
