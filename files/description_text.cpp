#include "files/description_text.h"

namespace kelvane {
namespace {

constexpr const char* kCrPicture = "\xE2\x90\x8D";  // U+240D
constexpr const char* kLfPicture = "\xE2\x90\x8A";  // U+240A
constexpr std::size_t kPictureBytes = 3;

}  // namespace

std::string descriptionForBox(const std::string& fileText) {
    std::string box;
    box.reserve(fileText.size());
    for (std::size_t i = 0; i < fileText.size(); ++i) {
        const char c = fileText[i];
        if (c == '\r' && i + 1 < fileText.size() && fileText[i + 1] == '\n') {
            box += '\n';
            ++i;
        } else if (c == '\r') {
            box += kCrPicture;
        } else if (c == '\n') {
            box += kLfPicture;
        } else {
            box += c;
        }
    }
    return box;
}

std::string descriptionFromBox(const std::string& boxText) {
    std::string file;
    file.reserve(boxText.size() + boxText.size() / 16);
    for (std::size_t i = 0; i < boxText.size(); ++i) {
        if (boxText[i] == '\n') {
            file += "\r\n";
        } else if (boxText.compare(i, kPictureBytes, kCrPicture) == 0) {
            file += '\r';
            i += kPictureBytes - 1;
        } else if (boxText.compare(i, kPictureBytes, kLfPicture) == 0) {
            file += '\n';
            i += kPictureBytes - 1;
        } else {
            file += boxText[i];
        }
    }
    return file;
}

}  // namespace kelvane
