#include "files/grid_csv.h"
#include "sim/sample_building.h"
#include "image/window_data.h"
#include "texts/grid_csv_texts.h"
#include "texts/language_table.h"

#include <gtest/gtest.h>

using namespace kelvane;

TEST(GridCsvTexts, HeadersOfEveryLanguageAreRecognisedAndReasonsNameTheLine) {
    const WindowData window = showImage(sampleBuildingImage());
    const GridCsvHeaders headers = texts::csvHeaders();
    for (int g = 0; g < kGridCount; ++g) {
        const GridId id = static_cast<GridId>(g);
        for (int language : {texts::kPolish, texts::kEnglish}) {
            const std::string csv = exportGridCsv(window.grid(id), texts::gridHeaders(id, language));
            const CsvImport back = importGridCsv(id, csv, Grid::make(gridColumns(id)), CsvImportMode::Replace, headers);
            EXPECT_EQ(back.fault, CsvFileFault::None) << texts::csvFaultText(back, id, language);
            EXPECT_TRUE(back.header) << g << "/" << language;
            EXPECT_EQ(back.added, window.grid(id).rowCount() - 1);
        }
    }
    // The residents' Polish header read as a key table names both tables.
    const std::string residents = exportGridCsv(window.grid(GridId::Residents), texts::gridHeaders(GridId::Residents, 0));
    const CsvImport wrong = importGridCsv(GridId::Keys, residents, Grid::make(2), CsvImportMode::Append, headers);
    EXPECT_EQ(texts::csvFaultText(wrong, GridId::Keys, texts::kEnglish),
              "The file holds the table \"Users\", not \"Keys\".");
    EXPECT_EQ(texts::csvRefusalText({7, CsvRowProblem::Repeated, 3, {}}, GridId::Residents, texts::kPolish),
              "Wiersz 7: powtarza wpis z wiersza 3");
    EXPECT_EQ(texts::csvRefusalText({2, CsvRowProblem::TableFull, 0, {}}, GridId::GeneralCodes, texts::kEnglish),
              "Line 2: the table is full (it holds at most 64 entries)");
    EXPECT_EQ(texts::csvRefusalText({9, CsvRowProblem::BadCell, 0, {CellProblem::TooManyDigits, 3, 4}},
                                    GridId::Residents, texts::kEnglish),
              "Line 9: column \"Master code\": at most 4 digits");
}
