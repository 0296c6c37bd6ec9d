// A firmware file of any bytes: refused with a message unless it begins with
// the signature; accepted, the buffer holds the file's image part and erased
// flash after it.
#include "fuzz/fuzz_check.h"
#include "bootloader/firmware_image.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

struct View : kelvane::bootloader::UpgradeReport {
    int shown = 0;
    kelvane::bootloader::UpgradeMessage status{};
    void showStatus(const kelvane::bootloader::UpgradeStatus& s) override {
        status = s.message;
        ++shown;
    }
    void setProgressRange(int, int) override {}
    void setProgress(int) override {}
    void runEnded() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/firmware_fuzz_" + std::to_string(::getpid()) + ".dat";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f);
    FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
    kelvane::bootloader::UpgradeState state;
    View view;
    const bool ok = kelvane::bootloader::loadFirmwareImageFrom(path, state, view);
    std::remove(path.c_str());
    const bool signed_ = size >= 4 && std::memcmp(data, "Orva", 4) == 0;
    FUZZ_CHECK(ok == signed_);
    FUZZ_CHECK(state.image && state.image->size() == kelvane::bootloader::kImageSize);
    if (!ok) {
        FUZZ_CHECK(view.shown == 1 && view.status == kelvane::bootloader::UpgradeMessage::BadFile);
        return 0;
    }
    const std::size_t part = std::min<std::size_t>(size - 4, kelvane::bootloader::kImageSize);
    const std::uint8_t* image = state.image->data();
    FUZZ_CHECK(std::memcmp(image, data + 4, part) == 0);
    for (std::size_t i = part; i < kelvane::bootloader::kImageSize; ++i)
        FUZZ_CHECK(image[i] == (i < 4 ? static_cast<std::uint8_t>("Orva"[i]) : 0xFF));
    return 0;
}
