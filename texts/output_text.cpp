#include "texts/output_text.h"

#include <cstdio>

namespace kelvane::texts {

namespace {

// The length of the well-formed UTF-8 sequence at text[i] and its code point;
// 0 when the byte does not begin one (overlong forms and surrogates included).
std::size_t utf8At(const std::string& text, std::size_t i, unsigned& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned c = byte(i);
    if (c < 0x80) {
        code = c;
        return 1;
    }
    std::size_t length;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, code = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, code = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, code = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool isControl(unsigned code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

std::string hex(const char* format, unsigned value) {
    char buf[12];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned code = 0;
        const std::size_t length = utf8At(text, i, code);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        switch (code) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (isControl(code))
                out += hex("\\u%04x", code);
            else
                out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

std::string visibleText(const std::string& text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned code = 0;
        const std::size_t length = utf8At(text, i, code);
        if (length == 0) {
            out += hex("\\x%02x", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (code == '\n' && keepLineBreaks) {
            out += '\n';
        } else if (code == '\r' && keepLineBreaks && i + 1 < text.size() && text[i + 1] == '\n') {
            // a CR LF line break shows as the line break it is
        } else if (code == '\t') {
            out += '\t';
        } else if (code == '\n' || code == '\r') {
            out += ' ';
        } else if (isControl(code)) {
            out += code < 0x100 ? hex("\\x%02x", code) : hex("\\u%04x", code);
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

}  // namespace kelvane::texts
