// Time to print a full building: 510 residents, 51 sheets, rendered to PDF.
#include "print/card_printer.h"
#include "image/codecs.h"
#include "tests/print/card_texts.h"

#include <QGuiApplication>
#include <QPrinter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace kelvane;

Image fullBuilding() {
    Image image = erasedImage();
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local) {
            const int n = (line - 1) * 255 + local;
            for (auto [kind, value] :
                 {std::pair{ResidentCode::Logical, n}, {ResidentCode::Open, 1000 + n}, {ResidentCode::Main, 5000 + n}}) {
                const auto bcd = EncodeBcdCode(value);
                image[residentOffset(kind, line, local)] = bcd[0];
                image[residentOffset(kind, line, local) + 1] = bcd[1];
            }
        }
    return image;
}

void BM_LayoutFullBuilding(benchmark::State& state) {
    const Image image = fullBuilding();
    for (auto _ : state) {
        auto pages = layoutCardPages(image, polishCardTexts(), "Osiedle Zielone, ul. Łąkowa 5");
        benchmark::DoNotOptimize(pages);
    }
}
BENCHMARK(BM_LayoutFullBuilding)->Unit(benchmark::kMillisecond);

// Layout and rendering together, as the print command does after the dialog.
void BM_PrintFullBuildingToPdf(benchmark::State& state) {
    const Image image = fullBuilding();
    QTemporaryDir dir;
    cardFontFamily();  // font look-up once, as in a running program
    for (auto _ : state) {
        const auto pages = layoutCardPages(image, polishCardTexts(), "Osiedle Zielone, ul. Łąkowa 5");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("cards.pdf")));
        printer.setPageSize(QPageSize(QPageSize::A4));
        printCardPages(printer, pages);
        state.counters["pages"] = static_cast<double>(pages.size());
    }
}
BENCHMARK(BM_PrintFullBuildingToPdf)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
