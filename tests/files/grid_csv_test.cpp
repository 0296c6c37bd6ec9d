#include "files/cp1250.h"
#include "files/data_file.h"
#include "files/grid_csv.h"
#include "image/codecs.h"
#include "sim/sample_building.h"
#include "image/window_data.h"

#include <gtest/gtest.h>

#include <random>

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
    return ImportGridCsv(id, bytes, cur, mode, testHeaders());
}

std::vector<Grid::Row> dataRows(const Grid& g) { return {g.rows.begin() + 1, g.rows.end()}; }

}  // namespace

TEST(GridCsv, EveryGridOfAFullImageSurvivesExportAndImport) {
    const WindowData window = ShowImage(SampleBuildingImage());
    for (GridId id : kGrids) {
        const Grid& grid = window.grid(id);
        ASSERT_GT(grid.rowCount(), 2) << csvTableName(id);
        const std::string csv = ExportGridCsv(grid, testHeaders()[static_cast<int>(id)][0]);
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
        {"quoted separators and doubled quotes",
         GridId::GeneralCodes,
         "\"12\";\"3;\"\"x\"\"\";0\n",
         ';',
         false,
         false,
         {{"12", "3;\"x\"", "0"}}},
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
         Utf8ToCp1250("Kod fizyczny;Kod logiczny;Kod otwarcia;Kod główny\n") + "1.5;15;1234;\n",
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
        "\"1\n.2\";12;;\n"  // a line break inside a cell: invalid
        "3.1;31;;\n"        // line 3 is not a handset line
        "1.1;99;;\n"        // same slot as line 2
        "1.3;13;;;x\n"      // a fifth field
        "1.4;14;;;\n"       // an empty fifth field is fine
        "1.5;\"15;;\n";     // quote open to the end
    const CsvImport got = import(GridId::Residents, csv);
    ASSERT_EQ(got.fault, CsvFileFault::None);
    const std::vector<std::pair<int, CsvRowProblem>> want = {{3, CsvRowProblem::Invalid},
                                                             {5, CsvRowProblem::Invalid},
                                                             {6, CsvRowProblem::Repeated},
                                                             {7, CsvRowProblem::TooManyFields},
                                                             {9, CsvRowProblem::OpenQuote}};
    ASSERT_EQ(got.refused.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got.refused[i].line, want[i].first);
        EXPECT_EQ(got.refused[i].problem, want[i].second) << got.refused[i].line;
    }
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

    const CsvImport replace = import(GridId::Keys, csv, CsvImportMode::Replace, current);
    EXPECT_EQ(replace.removed, 3);
    EXPECT_EQ(replace.added, 2);
    EXPECT_EQ(replace.replaced, 0);
    EXPECT_EQ(replace.grid.rows[0], current.rows[0]);
    EXPECT_EQ(dataRows(replace.grid), (std::vector<Grid::Row>{{"5", keyText(2)}, {"6", keyText(6)}}));

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

TEST(GridCsv, FilesOfTheWrongKindChangeNothing) {
    Grid current = Grid::make(2);
    current.rows[1] = {"1", keyText(1)};
    const auto kvd = WriteDataFile(SampleBuildingImage(), "Opis");
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

TEST(GridCsv, TextFilesAreWrittenWholeOrNotAtAll) {
    const std::string dir = testing::TempDir();
    const std::string path = dir + "/csv_" + std::to_string(std::random_device{}()) + ".csv";
    std::string back;
    EXPECT_TRUE(SaveTextFile(path, "a;b\r\n"));
    ASSERT_TRUE(LoadFileBytes(path, back));
    EXPECT_EQ(back, "a;b\r\n");
    EXPECT_FALSE(SaveTextFile(dir + "/no/such/dir/x.csv", "x"));
    EXPECT_FALSE(SaveTextFile(dir, "x"));
    EXPECT_FALSE(LoadFileBytes(dir + "/no/such/file.csv", back));
    std::remove(path.c_str());
}
