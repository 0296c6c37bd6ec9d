#pragma once
// The building register's window: the buildings (searched by name, address
// or serial number), the chosen building's visits newest first (date, kind,
// technician, outcome, changes), its name, address and notes to edit, and for
// visits with an image: compare two (the change list), open one (the window
// loads it as LOAD does) or save it as a data file.
#include "registry/building_register.h"
#include "texts/language_table.h"

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
class QWidget;

namespace kelvane::shell {

class CompanySyncRunner;

// An edit of a building's name, address or notes that a newer one replaced.
struct ReplacedEdit {
    std::string field;       // "name", "address", "notes"
    std::string time;        // when the replaced edit was made: ISO 8601
    std::string technician;  // who made it
    std::string before;      // what it said
    std::string after;       // what replaced it
};

// The red warning before an upload of one building's image to another's
// controller, naming both.
QString wrongBuildingWarning(int language, const QString& fileBuilding, const QString& connectedBuilding);

class RegisterDialog : public QDialog {
    Q_OBJECT
public:
    // Shows its texts, dates and times in `language` of the language table.
    RegisterDialog(QWidget* parent, registry::Register& reg, int language);

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
    // Makes the visit report of one visit with an image ("Raport z wizyty…");
    // the button shows only when it is set.
    std::function<void(const registry::ControllerKey&, std::int64_t visit)> makeReport;
    // Where the replaced edits of a building come from, newest first (none
    // without it); the chosen building's are shown at once.
    void setFieldHistory(std::function<std::vector<ReplacedEdit>(const registry::ControllerKey&)> history);

    // The company register: its state above the buttons and "Synchronise
    // now"; hidden while no server is set. A sync that ends fills the lists
    // again with what it brought.
    void setCompanySync(CompanySyncRunner* runner);
    QString companyText() const;
    QTreeWidget* history() const { return history_; }

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
    void reportSelected();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillBuildings();
    void fillVisits();
    void fillHistory();
    void showCompanyState();
    std::optional<registry::ControllerKey> currentKey() const;
    std::vector<std::int64_t> selectedVisits() const;  // newest first
    void updateButtons();
    // Widens the window (never narrows it) until every column shows whole.
    void fitColumns();

    QString text(texts::Message message) const;

    registry::Register& reg_;
    int language_;
    QLineEdit* search_;
    QTreeWidget* buildings_;
    QTreeWidget* visits_;
    QLineEdit* name_;
    QLineEdit* address_;
    QPlainTextEdit* notes_;
    QPushButton* compare_;
    QPushButton* open_;
    QPushButton* saveAs_;
    QPushButton* report_;
    QLabel* noResults_;
    QLabel* status_;
    QSplitter* split_;
    QTreeWidget* history_;
    QWidget* historyBox_;  // its heading and the list, shown when there is a replaced edit
    QWidget* company_;
    QLabel* companyState_;
    CompanySyncRunner* sync_ = nullptr;
    std::function<std::vector<ReplacedEdit>(const registry::ControllerKey&)> fieldHistory_;
    std::optional<Image> chosen_;
    std::optional<registry::ControllerKey> chosenKey_;
    std::optional<std::int64_t> chosenVisit_;
};

}  // namespace kelvane::shell
