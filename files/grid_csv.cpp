#include "files/grid_csv.h"

#include "files/atomic_file.h"
#include "files/cp1250.h"
#include "image/code_rules.h"
#include "image/image.h"
#include "image/window_data.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace kelvane {

namespace {

const char* const kTableNames[kGridCount] = {"keys", "residents", "general_codes", "digitizers"};
const char kBom[] = "\xEF\xBB\xBF";

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A spreadsheet runs a cell that begins with one of these as a formula
// (=HYPERLINK(...), =cmd|...); an apostrophe before it makes it text. One that
// begins with an apostrophe gets one more, so taking one off on import gives
// every cell back as it was.
bool needsTextMark(const std::string& text) {
    return !text.empty() && std::string("=+-@\t\r'").find(text[0]) != std::string::npos;
}

void appendField(std::string& out, const std::string& cell) {
    const std::string text = needsTextMark(cell) ? "'" + cell : cell;
    if (text.find_first_of(";\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

bool isControlByte(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F; }

// A data file begins with the image, whose first 8 KiB no table uses: 0xFF
// after every verification.
bool looksLikeDataFile(const std::string& bytes) {
    if (bytes.size() < kImageSize) return false;
    const std::size_t region = mem::kLogicalLU1;
    const auto ff = std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(region), '\xFF');
    return static_cast<std::size_t>(ff) * 10 >= region * 9;
}

bool isUtf8(const std::string& s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int more;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(more) >= n) return false;
        for (int k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

// The separator the first record uses most: ';' before tab before ','.
char detectSeparator(const std::string& text) {
    int semi = 0, tab = 0, comma = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') {
            if (semi + tab + comma > 0) break;
            continue;
        }
        semi += c == ';';
        tab += c == '\t';
        comma += c == ',';
    }
    if (semi >= tab && semi >= comma) return ';';
    return tab >= comma ? '\t' : ',';
}

struct Record {
    int line = 0;
    std::vector<std::string> fields;
    bool openQuote = false;
};

// Splits the text into records by RFC 4180: fields in double quotes may hold
// separators, line breaks and doubled quotes. A record ends at LF, CR LF or CR.
std::vector<Record> splitRecords(const std::string& text, char sep) {
    std::vector<Record> records;
    std::size_t i = 0;
    const std::size_t n = text.size();
    int line = 1;
    while (i < n) {
        Record rec;
        rec.line = line;
        std::string field;
        bool done = false;
        while (!done) {
            if (i < n && text[i] == '"') {
                // Quoted field: up to the closing quote, then up to the separator.
                ++i;
                bool closed = false;
                while (i < n) {
                    const char c = text[i++];
                    if (c == '"') {
                        if (i < n && text[i] == '"') {
                            field += '"';
                            ++i;
                        } else {
                            closed = true;
                            break;
                        }
                    } else {
                        if (c == '\n' || (c == '\r' && (i >= n || text[i] != '\n'))) ++line;
                        field += c;
                    }
                }
                if (!closed) rec.openQuote = true;
            }
            while (i < n && text[i] != sep && text[i] != '\n' && text[i] != '\r') field += text[i++];
            rec.fields.push_back(std::move(field));
            field.clear();
            if (i >= n) {
                done = true;
            } else if (text[i] == sep) {
                ++i;
            } else {
                if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
                ++i;
                ++line;
                done = true;
            }
        }
        records.push_back(std::move(rec));
    }
    return records;
}

bool allEmpty(const std::vector<std::string>& fields) {
    return std::all_of(fields.begin(), fields.end(), [](const std::string& f) { return f.empty(); });
}

// True when the fields are one language's header texts of the grid.
bool isHeaderOf(const std::vector<std::string>& fields, const GridCsvHeaders& headers, GridId id) {
    for (const auto& language : headers[static_cast<int>(id)]) {
        if (language.empty() || fields.size() < language.size()) continue;
        bool same = true;
        for (std::size_t c = 0; c < fields.size() && same; ++c)
            same = c < language.size() ? lowerAscii(fields[c]) == lowerAscii(trimBlanks(language[c])) : fields[c].empty();
        if (same) return true;
    }
    return false;
}

}  // namespace

const char* csvTableName(GridId grid) { return kTableNames[static_cast<int>(grid)]; }

bool gridFromCsvTableName(const std::string& name, GridId& grid) {
    for (int g = 0; g < kGridCount; ++g)
        if (lowerAscii(name) == kTableNames[g]) {
            grid = static_cast<GridId>(g);
            return true;
        }
    return false;
}

std::string csvFileName(GridId grid) { return std::string(csvTableName(grid)) + ".csv"; }

std::string exportGridCsv(const Grid& grid, const std::vector<std::string>& headers) {
    const std::size_t columns = std::max(static_cast<std::size_t>(grid.columns()), headers.size());
    std::string out = kBom;
    auto record = [&](const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < columns; ++c) {
            if (c) out += ';';
            if (c < cells.size()) appendField(out, cells[c]);
        }
        out += "\r\n";
    };
    record(headers);
    for (int r = 1; r < grid.rowCount(); ++r)
        if (!IsRowEmpty(grid, r)) record(grid.rows[r]);
    return out;
}

bool saveTextFile(const std::filesystem::path& path, const std::string& bytes, WriteFault* fault) {
    const WriteFault result = writeFileSafely(path, bytes.data(), bytes.size());
    if (fault) *fault = result;
    return result == WriteFault::None;
}

bool loadFileBytes(const std::filesystem::path& path, std::string& bytes, ReadFault* fault) {
    const ReadFault result = readFileBounded(path, kMaxCsvBytes, bytes);
    if (fault) *fault = result;
    return result == ReadFault::None;
}

namespace {

// The first phase: what kind of file it is, and its text in UTF-8 with its
// records split and trimmed (wholly empty ones left out). False on a fault.
bool readRecords(const std::string& bytes, CsvImport& result, std::vector<Record>& records) {
    if (looksLikeDataFile(bytes)) {
        result.fault = CsvFileFault::DataFile;
        return false;
    }
    if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return isControlByte(static_cast<unsigned char>(c)); })) {
        result.fault = CsvFileFault::Binary;
        return false;
    }
    std::string text;
    if (bytes.compare(0, 3, kBom) == 0) {
        text = bytes.substr(3);
    } else if (isUtf8(bytes)) {
        text = bytes;
    } else {
        text = cp1250ToUtf8(bytes);
        result.windows1250 = true;
    }
    result.separator = detectSeparator(text);
    records = splitRecords(text, result.separator);
    for (auto& rec : records)
        for (auto& f : rec.fields) {
            f = trimBlanks(f);
            if (!f.empty() && f[0] == '\'') f.erase(0, 1);  // the text mark of the export
        }
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const Record& r) { return !r.openQuote && allEmpty(r.fields); }),
                  records.end());
    return true;
}

struct Accepted {
    int line;
    Grid::Row cells;
    std::string entry;
};

// The second phase: every record through the cells' forms and the grid's row
// rules; the refused ones are noted with their line.
std::vector<Accepted> checkRecords(GridId id, std::vector<Record>& records, std::size_t first, CsvImport& result) {
    const std::size_t columns = static_cast<std::size_t>(gridColumns(id));
    std::vector<Accepted> accepted;
    accepted.reserve(records.size());
    std::unordered_map<std::string, int> seen;  // entry -> line naming it first
    for (std::size_t r = first; r < records.size(); ++r) {
        Record& rec = records[r];
        if (rec.openQuote) {
            result.refused.push_back({rec.line, CsvRowProblem::OpenQuote, 0, {}});
            continue;
        }
        if (rec.fields.size() > columns && !std::all_of(rec.fields.begin() + static_cast<std::ptrdiff_t>(columns),
                                                        rec.fields.end(), [](const std::string& f) { return f.empty(); })) {
            result.refused.push_back({rec.line, CsvRowProblem::TooManyFields, 0, {}});
            continue;
        }
        rec.fields.resize(columns);
        const CellCheck cells = checkGridCells(id, rec.fields);
        if (cells.problem != CellProblem::None) {
            result.refused.push_back({rec.line, CsvRowProblem::BadCell, 0, cells});
            continue;
        }
        RowCheck check = checkGridRow(id, rec.fields);
        if (!check.valid) {
            result.refused.push_back({rec.line, CsvRowProblem::Invalid, 0, {}, check.column, check.rule});
            continue;
        }
        if (!check.entry.empty()) {
            const auto [it, fresh] = seen.emplace(check.entry, rec.line);
            if (!fresh) {
                result.refused.push_back({rec.line, CsvRowProblem::Repeated, it->second, {}});
                continue;
            }
        }
        accepted.push_back({rec.line, std::move(rec.fields), std::move(check.entry)});
    }
    return accepted;
}

// What a replacement changed, row by row: a row the file holds as the grid
// held it is no change; one naming the same entry (key, resident slot) with
// other cells is replaced; the rest are added or removed.
void countReplacement(GridId id, const Grid& current, const Grid& grid, CsvImport& result) {
    std::map<Grid::Row, int> kept;  // the old rows not yet matched, as a multiset
    for (int r = 1; r < current.rowCount(); ++r)
        if (!IsRowEmpty(current, r)) ++kept[current.rows[r]];
    std::vector<const Grid::Row*> fresh;
    for (int r = 1; r < grid.rowCount(); ++r) {
        const auto same = kept.find(grid.rows[r]);
        if (same != kept.end() && same->second > 0) {
            --same->second;
            ++result.unchanged;
        } else {
            fresh.push_back(&grid.rows[r]);
        }
    }
    std::unordered_map<std::string, const Grid::Row*> oldByEntry;
    int oldLeft = 0;
    for (const auto& [row, count] : kept) {
        oldLeft += count;
        if (count == 0) continue;
        const RowCheck check = checkGridRow(id, row);
        if (!check.entry.empty()) oldByEntry.emplace(check.entry, &row);
    }
    result.added = result.replaced = 0;
    result.changed.clear();
    for (const Grid::Row* row : fresh) {
        const RowCheck check = checkGridRow(id, *row);
        const auto before = check.entry.empty() ? oldByEntry.end() : oldByEntry.find(check.entry);
        if (before == oldByEntry.end()) {
            ++result.added;
            continue;
        }
        result.changed.emplace_back(*before->second, *row);
        ++result.replaced;
        --oldLeft;
        oldByEntry.erase(before);
    }
    result.removed = oldLeft;
}

// The third phase: the grid the import makes from the window's grid and the
// accepted rows, with its counts.
void buildGrid(GridId id, const Grid& current, CsvImportMode mode, std::vector<Accepted>& accepted, CsvImport& result) {
    const std::size_t columns = static_cast<std::size_t>(gridColumns(id));
    Grid grid;
    grid.rows.push_back(current.rows.empty() ? Grid::Row(columns) : current.rows[0]);
    grid.rows[0].resize(columns);
    std::unordered_map<std::string, int> rowOf;  // entry -> row of the new grid
    for (int r = 1; r < current.rowCount(); ++r) {
        if (IsRowEmpty(current, r)) continue;
        if (mode == CsvImportMode::Replace) {
            ++result.removed;
            continue;
        }
        grid.append(current.rows[r]);
        const RowCheck check = checkGridRow(id, current.rows[r]);
        if (!check.entry.empty()) rowOf.emplace(check.entry, grid.rowCount() - 1);
    }
    const int capacity = tableCapacity(id);
    for (auto& row : accepted) {
        const auto it = row.entry.empty() ? rowOf.end() : rowOf.find(row.entry);
        if (it != rowOf.end()) {
            Grid::Row& kept = grid.rows[it->second];
            row.cells.resize(kept.size());
            if (row.cells != kept) {
                result.changed.emplace_back(kept, row.cells);
                ++result.replaced;
            } else {
                ++result.unchanged;
            }
            kept = std::move(row.cells);
        } else if (grid.rowCount() - 1 >= capacity) {
            result.refused.push_back({row.line, CsvRowProblem::TableFull, 0, {}});
        } else {
            grid.rows.push_back(std::move(row.cells));
            ++result.added;
        }
    }
    std::sort(result.refused.begin(), result.refused.end(),
              [](const CsvRefusal& a, const CsvRefusal& b) { return a.line < b.line; });
    if (mode == CsvImportMode::Replace) countReplacement(id, current, grid, result);
    if (grid.rowCount() == 1) grid.rows.emplace_back(columns);
    grid.currentRow = 1;
    grid.currentCol = 0;
    result.grid = std::move(grid);
}

}  // namespace

CsvImport importGridCsv(GridId id, const std::string& bytes, const Grid& current, CsvImportMode mode,
                        const GridCsvHeaders& headers) {
    CsvImport result;
    result.grid = current;
    std::vector<Record> records;
    if (!readRecords(bytes, result, records)) return result;
    std::size_t first = 0;
    if (!records.empty()) {
        if (isHeaderOf(records[0].fields, headers, id)) {
            result.header = true;
            first = 1;
        } else {
            for (int g = 0; g < kGridCount; ++g)
                if (g != static_cast<int>(id) && isHeaderOf(records[0].fields, headers, static_cast<GridId>(g))) {
                    result.fault = CsvFileFault::OtherTable;
                    result.otherGrid = static_cast<GridId>(g);
                    return result;
                }
        }
    }
    if (records.size() <= first) {
        result.fault = CsvFileFault::Empty;
        return result;
    }
    std::vector<Accepted> accepted = checkRecords(id, records, first, result);
    buildGrid(id, current, mode, accepted, result);
    return result;
}

}  // namespace kelvane
