#pragma once
// The building register's window: the buildings (searched by name, address
// or serial number), the chosen building's visits newest first (date, kind,
// technician, outcome, changes), its name, address and notes to edit, and for
// visits with an image: compare two (the change list), open one (the window
// loads it as LOAD does) or save it as a data file.
#include "registry/building_register.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTreeWidget;

namespace kelvane::shell {

struct RegisterDialogTexts {
    QString title, search, building, address, identity, visits, lastSeen;
    QString when, kind, technician, outcome, changes;
    QString name, notes, saveDetails, compare, open, saveAs, close, unknownBuilding;
    QString detailsSaved, noResults;
    QString compareTitle;  // "%s" the older visit's time, "%s" the newer one's
    QStringList kinds;     // a visit's kind by registry::VisitKind; the stored name when missing
    int language = 0;      // of outcomes, dates and times
};

// The window's texts in a language of the language table.
RegisterDialogTexts registerTexts(int language);
// The red warning before an upload of one building's image to another's
// controller, naming both.
QString wrongBuildingWarning(int language, const QString& fileBuilding, const QString& connectedBuilding);

class RegisterDialog : public QDialog {
    Q_OBJECT
public:
    RegisterDialog(QWidget* parent, registry::Register& reg, const RegisterDialogTexts& texts);

    // The image chosen with Open (or a double click on a visit); nothing when closed.
    const std::optional<Image>& chosenImage() const { return chosen_; }
    std::optional<registry::ControllerKey> chosenController() const { return chosenKey_; }
    std::optional<std::int64_t> chosenVisit() const { return chosenVisit_; }

    // Shows what changed from the older visit's image to the newer one's,
    // in a window of that title (both visits' times, the older first).
    std::function<void(const Image& older, const Image& newer, const QString& title)> showChanges;
    // Asks where to save a visit's image; an empty text saves nothing. A file
    // dialog unless a test replaces it.
    std::function<QString()> askSavePath;
    // Says that something failed (a message box unless a test replaces it).
    std::function<void(const QString&)> report;

    QTreeWidget* buildings() const { return buildings_; }
    QTreeWidget* visits() const { return visits_; }
    QLineEdit* searchField() const { return search_; }
    // "brak wyników" under the search field, "Zapisano opis budynku" under
    // the lists; empty when there is nothing to say.
    QString noResultsText() const;
    QString statusText() const;

    // Actions of the buttons, for the buttons and tests.
    void compareSelected();
    void openSelected();
    void saveSelected();
    void saveDetails();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillBuildings();
    void fillVisits();
    std::optional<registry::ControllerKey> currentKey() const;
    std::vector<std::int64_t> selectedVisits() const;  // newest first
    void updateButtons();
    // Widens the window (never narrows it) until every column shows whole.
    void fitColumns();

    registry::Register& reg_;
    RegisterDialogTexts texts_;
    QLineEdit* search_;
    QTreeWidget* buildings_;
    QTreeWidget* visits_;
    QLineEdit* name_;
    QLineEdit* address_;
    QPlainTextEdit* notes_;
    QPushButton* compare_;
    QPushButton* open_;
    QPushButton* saveAs_;
    QLabel* noResults_;
    QLabel* status_;
    QSplitter* split_;
    std::optional<Image> chosen_;
    std::optional<registry::ControllerKey> chosenKey_;
    std::optional<std::int64_t> chosenVisit_;
};

}  // namespace kelvane::shell
