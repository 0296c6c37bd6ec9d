// Importing spreadsheet files of the code tables: 3,072 key rows (the most the
// key grid admits; the first 512 fill the table, the rest are refused as
// surplus after their rules are checked) and 510 residents, each with a header
// row, quoted fields and Windows-1250 text.
#include "files/cp1250.h"
#include "files/grid_csv.h"
#include "image/codecs.h"

#include <benchmark/benchmark.h>

using namespace kelvane;

namespace {

GridCsvHeaders headers() {
    GridCsvHeaders h;
    h[0] = {{"Lokal", "Klucz"}, {"Local", "Key"}};
    h[1] = {{"Kod fizyczny", "Kod logiczny", "Kod otwarcia", "Kod główny"}};
    h[2] = {{"Kod", "Panel", "Magistrala"}};
    h[3] = {{"Kod fizyczny", "Digitalizer", "Klawisz"}};
    return h;
}

std::string keyFile() {
    std::string csv = "Lokal;Klucz\r\n";
    for (int i = 0; i < 3072; ++i) {
        const std::uint8_t rec[8] = {0,  1, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 7, 9,
                                     11, 13};
        csv += std::to_string(i % 9999 + 1) + ";\"" + FormatKeyText(rec) + "\"\r\n";
    }
    return csv;
}

std::string residentFile() {
    std::string csv = utf8ToCp1250("Kod fizyczny;Kod logiczny;Kod otwarcia;Kod główny\r\n");
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local)
            csv += std::to_string(line) + "." + std::to_string(local) + ";" + std::to_string(line * 1000 + local) +
                   ";0" + std::to_string(local % 100) + ";" + std::to_string(local) + "\r\n";
    return csv;
}

void importFile(benchmark::State& state, GridId id, const std::string& csv) {
    const GridCsvHeaders h = headers();
    const Grid current = Grid::make(gridColumns(id));
    for (auto _ : state) {
        CsvImport result = importGridCsv(id, csv, current, CsvImportMode::Append, h);
        benchmark::DoNotOptimize(result);
    }
}

void BM_Import3072KeyRows(benchmark::State& state) { importFile(state, GridId::Keys, keyFile()); }
void BM_Import510Residents(benchmark::State& state) { importFile(state, GridId::Residents, residentFile()); }

}  // namespace

BENCHMARK(BM_Import3072KeyRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Import510Residents)->Unit(benchmark::kMillisecond);
