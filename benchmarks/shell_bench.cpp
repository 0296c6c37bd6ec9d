// KelvaneMini's window timings, offscreen: from program start to the filled
// main window on screen (the splash's two seconds left out), and DisplayData
// and GetData of a full image (512 keys, 510 residents, 64 general codes,
// 96 digitizers). With --startup it only starts and exits, for timing the
// whole process from outside.
#include "shell/code_grid.h"
#include "image/codecs.h"
#include "shell/main_window.h"
#include "shell/document.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace kelvane;

namespace {

Image fullImage() {
    Image img = initialImage();
    for (std::size_t i = 0; i < mem::kKeyCount; ++i) {
        std::uint8_t* rec = &img[mem::kKeys + i * mem::kKeyRecordSize];
        const std::uint16_t local = static_cast<std::uint16_t>(1 + i % 200);
        rec[0] = static_cast<std::uint8_t>(local >> 8);
        rec[1] = static_cast<std::uint8_t>(local);
        rec[2] = static_cast<std::uint8_t>(i >> 8);
        rec[3] = static_cast<std::uint8_t>(i);
        rec[4] = 0x5A, rec[5] = 0x17, rec[6] = 0xC3, rec[7] = 0x08;
    }
    int code = 1;
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local, ++code) {
            for (auto kind : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main}) {
                const auto bcd = EncodeBcdCode(kind == ResidentCode::Open ? 1000 + code : code);
                img[residentOffset(kind, line, local)] = bcd[0];
                img[residentOffset(kind, line, local) + 1] = bcd[1];
            }
        }
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i) {
        const auto bcd = EncodeBcdCode(static_cast<int>(2000 + i));
        img[mem::kGeneralCodes + 2 * i] = bcd[0];
        img[mem::kGeneralCodes + 2 * i + 1] = bcd[1];
        img[mem::kGeneralAttrs + 2 * i] = static_cast<std::uint8_t>(1 + i);
        img[mem::kGeneralAttrs + 2 * i + 1] = 0;
    }
    for (std::size_t i = 0; i < mem::kDigitCount; ++i) {
        img[mem::kDigitNumbers + i] = static_cast<std::uint8_t>(4 * (1 + i % 63));
        img[mem::kDigitAssigns + 2 * i] = static_cast<std::uint8_t>((i % 24) * 2 + i % 2);
        img[mem::kDigitAssigns + 2 * i + 1] = static_cast<std::uint8_t>(1 + i);
    }
    return img;
}

double ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void report(const char* what, std::vector<double> v, double limit) {
    std::sort(v.begin(), v.end());
    const double median = v[v.size() / 2];
    std::printf("%-44s min %7.2f ms  median %7.2f ms  max %7.2f ms  (limit %.0f ms) %s\n", what, v.front(), median,
                v.back(), limit, median <= limit ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = std::chrono::steady_clock::now();
    QApplication app(argc, argv);
    auto* window = new shell::MainWindow;  // fills itself from the initial image, in Polish
    window->show();
    if (!QTest::qWaitForWindowExposed(window)) return 1;
    const double startup = ms(std::chrono::steady_clock::now() - start);
    if (argc > 1 && std::strcmp(argv[1], "--startup") == 0) {
        std::printf("start to filled main window: %.1f ms\n", startup);
        return 0;
    }
    std::printf("start to filled main window (in process): %.1f ms (limit 200 ms)\n", startup);

    const Image full = fullImage();
    std::vector<double> display, get;
    for (int run = 0; run < 15; ++run) {
        // From an empty window each time, so every cell is written anew.
        window->document().working = initialImage();
        window->DisplayData();
        window->document().working = full;
        auto t0 = std::chrono::steady_clock::now();
        window->DisplayData();
        auto t1 = std::chrono::steady_clock::now();
        const int result = window->GetData();
        auto t2 = std::chrono::steady_clock::now();
        if (result != 1) {
            std::printf("GetData stopped on the full image\n");
            return 1;
        }
        display.push_back(ms(t1 - t0));
        get.push_back(ms(t2 - t1));
        QApplication::processEvents();
    }
    std::printf("rows: keys %d, residents %d, general codes %d, digitizers %d\n",
                window->grid(GridId::Keys)->rowCount(), window->grid(GridId::Residents)->rowCount(),
                window->grid(GridId::GeneralCodes)->rowCount(), window->grid(GridId::Digitizers)->rowCount());
    report("DisplayData, full image", display, 30);
    report("GetData, full image", get, 30);
    delete window;
    return 0;
}
