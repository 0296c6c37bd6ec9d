#pragma once
// The one writer of kvtool's JSON. Values are written as JSON already
// (jsonString() for texts); objects keep their fields in the order given, and
// the layout (one field or item a line, or all on one) is the caller's choice
// so that what scripts and the docs quote stays as it is.
//
//   tool.result(JsonObject().text("port", name).number("id", id).str());
//   tool.result(jsonArray(items));                  // "[a,\n b]"
//   out.raw("rows", jsonArray(rows, ",", "\n  ")); // "[\n  a,\n  b]"
#include "texts/output_text.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvane::cli {

inline std::string jsonString(const std::string& s) { return kelvane::texts::jsonString(s); }
inline std::string jsonNumber(const std::optional<int>& n) { return n ? std::to_string(*n) : "null"; }

// An object's fields: `lead` before each field, `separator` between two.
class JsonObject {
public:
    explicit JsonObject(const char* separator = ", ", const char* lead = "") : separator_(separator), lead_(lead) {}

    JsonObject& raw(const char* name, const std::string& value) {
        text_ += std::string(fields_++ ? next_ : "") + lead_ + jsonString(name) + ": " + value;
        next_ = separator_;
        return *this;
    }
    JsonObject& text(const char* name, const std::string& value) { return raw(name, jsonString(value)); }
    JsonObject& number(const char* name, long long value) { return raw(name, std::to_string(value)); }
    JsonObject& number(const char* name, const std::optional<int>& value) { return raw(name, jsonNumber(value)); }
    JsonObject& flag(const char* name, bool value) { return raw(name, value ? "true" : "false"); }
    // The next field on a line of its own.
    JsonObject& breakLine() {
        next_ = ",\n ";
        return *this;
    }
    std::string str() const { return "{" + text_ + "}"; }

private:
    const char* separator_;
    const char* lead_;
    std::string next_ = separator_;
    std::string text_;
    int fields_ = 0;
};

// Items written as JSON already: `lead` before each item, `separator` between two.
inline std::string jsonArray(const std::vector<std::string>& items, const char* separator = ",\n ", const char* lead = "") {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + std::string(lead) + items[i];
    return out + "]";
}

}  // namespace kelvane::cli
