// A data file of any bytes: it loads or is refused; what loads saves to the
// same bytes and loads back the same; its description passes the box and
// comes back unchanged.
#include "files/data_file.h"
#include "files/description_text.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto file = kelvane::readDataFile(bytes);
    FUZZ_CHECK(file.has_value() == (size >= kelvane::kImageSize));
    if (!file) return 0;
    FUZZ_CHECK(kelvane::descriptionFromBox(kelvane::descriptionForBox(file->description)) == file->description);
    const auto saved = kelvane::writeDataFile(file->image, file->description);
    const auto again = kelvane::readDataFile(saved);
    FUZZ_CHECK(again && again->image == file->image && again->description == file->description);
    // Text the encoding cannot hold aside, the bytes come back as they were.
    FUZZ_CHECK(kelvane::writeDataFile(again->image, again->description) == saved);
    return 0;
}
