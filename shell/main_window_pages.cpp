// The six pages of the main window.
#include "shell/code_grid.h"
#include "shell/grid_panel.h"
#include "shell/main_window.h"
#include "shell/settings_controls.h"
#include "shell/settings_groups.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kelvane::shell {

namespace {

// Keeps a grid's "+" and "-" buttons in the top right corner of its group box.
class CornerButtons : public QObject {
public:
    CornerButtons(QWidget* box, QPushButton* plus, QPushButton* minus) : QObject(box), plus_(plus), minus_(minus) {
        box->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            const int w = static_cast<QWidget*>(watched)->width();
            plus_->setGeometry(w - 44, 0, 20, 17);
            minus_->setGeometry(w - 23, 0, 20, 17);
        }
        return false;
    }

private:
    QPushButton* plus_;
    QPushButton* minus_;
};

QVBoxLayout* boxLayout(QWidget* box) {
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);
    return layout;
}

QGroupBox* makeGroup(const char* name, const char* design, QWidget* parent) {
    auto* box = new QGroupBox(QString::fromUtf8(design), parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

}  // namespace

void MainWindow::buildPages() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("GridPanel7"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    pages_ = new QTabWidget(central);
    pages_->setObjectName(QStringLiteral("PageControl1"));
    layout->addWidget(pages_);
    setCentralWidget(central);

    struct Page {
        const char* sheet;
        const char* design;
    };
    const Page pages[6] = {
        {"TabSheet1", "Kody, hasła i klucze"}, {"TabSheet2", "Parametry unifonów"}, {"TabSheet5", "Funkcje"},
        {"TabSheet3", "Konfiguracja"},         {"TabSheet4", "Parametry paneli"},   {"TabSheet6", "Opis"}};
    std::array<QWidget*, 6> sheets{};
    for (int i = 0; i < 6; ++i) {
        sheets[i] = new QWidget;
        sheets[i]->setObjectName(QString::fromLatin1(pages[i].sheet));
        auto* sheetLayout = new QVBoxLayout(sheets[i]);
        sheetLayout->setContentsMargins(2, 2, 2, 2);
        pages_->addTab(sheets[i], QString::fromUtf8(pages[i].design));
    }
    sheets[0]->layout()->addWidget(buildCodePage());
    buildSettingsPages(sheets);
    sheets[5]->layout()->addWidget(buildDescriptionPage());
    pages_->setCurrentIndex(0);
}

QWidget* MainWindow::buildCodePage() {
    auto* panel = new GridPanel({50, 50}, {50, 50});
    panel->setObjectName(QStringLiteral("GridPanel1"));
    struct GridPlace {
        GridId id;
        const char* design;
        const char* hint;
        int column, row;
        const char* plus;
        const char* minus;
        void (MainWindow::*onPlus)();
        void (MainWindow::*onMinus)();
        bool fixedPitch;
        bool rangeSelect;
    };
    const GridPlace places[kGridCount] = {
        {GridId::Keys, "Klucze", "p505, p506, p507", 0, 0, "Button1", "Button2", &MainWindow::onAddKey,
         &MainWindow::onDeleteKey, true, false},
        {GridId::Residents, "Lokatorzy", "p501, p502, p503", 1, 0, "Button4", "Button3", &MainWindow::onAddResident,
         &MainWindow::onDeleteResident, true, true},
        {GridId::GeneralCodes, "Kody ogólne", "p504", 0, 1, "Button6", "Button5", &MainWindow::onAddGeneralCode,
         &MainWindow::onDeleteGeneralCode, false, true},
        {GridId::Digitizers, "Digitalizery", "tego nie ma  wmenu :)", 1, 1, "Button8", "Button7",
         &MainWindow::onAddDigitizer, &MainWindow::onDeleteDigitizer, false, true},
    };
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(8);
    for (const GridPlace& g : places) {
        QGroupBox* box = makeGroup(groupObjectName(gridGroup(g.id)), g.design, panel);
        auto* grid = new CodeGrid(g.id, box);
        grid->setToolTip(QString::fromUtf8(g.hint));
        if (g.fixedPitch) grid->setFont(fixed);
        // Headers keep the window's font: "Physical code" fits an 86-pixel column.
        grid->horizontalHeader()->setFont(font());
        grid->setSelectionMode(g.rangeSelect ? QAbstractItemView::ContiguousSelection : QAbstractItemView::SingleSelection);
        const int id = static_cast<int>(g.id);
        grid->setItemDelegate(new MaskDelegate(
            [this, id](int column, int row) {
                switch (static_cast<GridId>(id)) {
                case GridId::Keys: return keysEditMask(column, row);
                case GridId::Residents: return residentsEditMask(column, row);
                case GridId::GeneralCodes: return generalCodesEditMask(column, row);
                case GridId::Digitizers: return digitizersEditMask(column, row);
                }
                return QString();
            },
            grid));
        boxLayout(box)->addWidget(grid);
        grids_[id] = grid;
        gridBoxes_[id] = box;
        connect(grid, &CodeGrid::rowsChanged, this, [this, g] { updateGridTitle(g.id); });

        auto* plus = new QPushButton(QStringLiteral("+"), box);
        plus->setObjectName(QString::fromLatin1(g.plus));
        auto* minus = new QPushButton(QStringLiteral("-"), box);
        minus->setObjectName(QString::fromLatin1(g.minus));
        plus->setFocusPolicy(Qt::NoFocus);
        minus->setFocusPolicy(Qt::NoFocus);
        connect(plus, &QPushButton::clicked, this, g.onPlus);
        connect(minus, &QPushButton::clicked, this, g.onMinus);
        new CornerButtons(box, plus, minus);
        panel->addControl(box, g.column, g.row);
    }
    grids_[0]->setColumnWidth(0, 64);
    grids_[0]->setColumnWidth(1, 64);
    for (int c = 0; c < 4; ++c) grids_[1]->setColumnWidth(c, 67);
    for (int c = 0; c < 3; ++c) grids_[2]->setColumnWidth(c, 100);
    return panel;
}

void MainWindow::buildSettingsPages(const std::array<QWidget*, 6>& sheets) {
    const QVector<int> cols[6] = {{}, {25, 40, 35}, {33, 34, 33}, {1, 1, 1}, {50, 50}, {}};
    const QVector<int> rows[6] = {{}, {50, 25, 25}, {33, 17, 17, 33}, {1, 1, 1}, {50, 50}, {}};
    GridPanel* panels[6] = {};
    for (int page = 1; page <= 4; ++page) {
        panels[page] = new GridPanel(cols[page], rows[page]);
        panels[page]->setObjectName(QStringLiteral("GridPanel%1").arg(page + 1));
        sheets[page]->layout()->addWidget(panels[page]);
    }
    QHash<int, QVBoxLayout*> layouts;
    QHash<int, const GroupPlace*> radioPlaces;
    for (const GroupPlace& g : settingsGroups()) {
        const char* name = groupObjectName(g.group);
        if (findParameter(name)) {
            radioPlaces.insert(static_cast<int>(g.group), &g);
            continue;
        }
        QGroupBox* box = makeGroup(name, g.design, panels[g.page]);
        layouts.insert(static_cast<int>(g.group), boxLayout(box));
        panels[g.page]->addControl(box, g.column, g.row, g.columnSpan, g.rowSpan);
    }
    for (const Parameter& p : parameterTable()) {
        const int group = static_cast<int>(p.group);
        if (const GroupPlace* g = radioPlaces.value(group)) {
            QWidget* control = createSettingControl(p, panels[g->page], nullptr);
            static_cast<QGroupBox*>(control)->setTitle(QString::fromUtf8(g->design));
            panels[g->page]->addControl(control, g->column, g->row, g->columnSpan, g->rowSpan);
        } else if (QVBoxLayout* layout = layouts.value(group)) {
            createSettingControl(p, layout->parentWidget(), layout);
        }
    }
    for (QVBoxLayout* layout : layouts) layout->addStretch();
}

QWidget* MainWindow::buildDescriptionPage() {
    auto* panel = new GridPanel({100}, {88, 12});
    panel->setObjectName(QStringLiteral("GridPanel6"));
    QGroupBox* opis = makeGroup(groupObjectName(SettingsGroup::Description), "Opis", panel);
    descriptionEdit_ = new QPlainTextEdit(opis);
    descriptionEdit_->setObjectName(QStringLiteral("Memo1"));
    descriptionEdit_->setPlainText(QStringLiteral("..."));
    boxLayout(opis)->addWidget(descriptionEdit_);
    QGroupBox* card = makeGroup(groupObjectName(SettingsGroup::CardText), "Tekst na wizytówkę", panel);
    cardTextEdit_ = new QLineEdit(card);
    cardTextEdit_->setObjectName(QStringLiteral("Edit1"));
    boxLayout(card)->addWidget(cardTextEdit_);
    panel->addControl(opis, 0, 0);
    panel->addControl(card, 0, 1);
    return panel;
}

}  // namespace kelvane::shell
