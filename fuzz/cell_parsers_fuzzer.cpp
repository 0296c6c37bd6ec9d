// Cell texts of any bytes through the number, physical-code and key-text
// readers.
#include "fuzz/fuzz_check.h"
#include "image/code_rules.h"
#include "image/codecs.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const int number = kelvane::readNumberCell(text);
    FUZZ_CHECK(kelvane::readNumberCell(" " + text + "\t") == number);  // blanks around do not count
    if (number != 0) FUZZ_CHECK(kelvane::readNumberCell(std::to_string(number)) == number);

    const kelvane::PhysicalCode code = kelvane::readPhysicalCode(text);
    FUZZ_CHECK(code.line >= 0 && code.line <= 255);

    const kelvane::ParsedKey key = kelvane::ParseKeyText(text);
    if (key.ok) FUZZ_CHECK(text.size() >= 23);
    // A key text made from any record parses back to that record's serial.
    if (size >= 8) {
        const std::string made = kelvane::FormatKeyText(data);
        FUZZ_CHECK(made.size() == 23);
        const kelvane::ParsedKey back = kelvane::ParseKeyText(made);
        FUZZ_CHECK(back.ok && back.rom[0] == 0x01);
        for (int i = 2; i <= 7; ++i) FUZZ_CHECK(back.rom[i - 1] == data[i]);
    }
    return 0;
}
