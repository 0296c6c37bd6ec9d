#pragma once
// The preview of a spreadsheet import into one code grid: how many rows the
// file adds, replaces or removes, every refused row with its line and reason,
// and the choice between replacing the grid's rows and appending to them.
// Nothing changes until the user confirms; the caller then takes grid().
#include "files/grid_csv.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace kelvane::shell {

class CsvImportDialog : public QDialog {
    Q_OBJECT
public:
    // `bytes` are the file's; `current` the grid as the window holds it.
    CsvImportDialog(GridId id, std::string bytes, Grid current, int language, QWidget* parent = nullptr);

    CsvImportMode mode() const;
    void setMode(CsvImportMode mode);
    // The import as the chosen mode makes it.
    const CsvImport& result() const { return result_; }

private:
    void refresh();

    GridId id_;
    std::string bytes_;
    Grid current_;
    int language_;
    GridCsvHeaders headers_;
    CsvImport result_;
    QRadioButton* replace_;
    QRadioButton* append_;
    QLabel* counts_;
    QLabel* refusedTitle_;
    QListWidget* changed_ = nullptr;  // rows the file changes: old → new
    QListWidget* refused_;
    QPushButton* import_;
};

}  // namespace kelvane::shell
