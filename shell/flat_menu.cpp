#include "shell/flat_menu.h"

#include "image/code_rules.h"
#include "image/flat_action_table.h"
#include "image/window_data.h"
#include "shell/code_grid.h"
#include "shell/main_window.h"
#include "shell/prompts.h"
#include "texts/entry_message.h"
#include "texts/grid_csv_texts.h"
#include "texts/language_table.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace kelvane::shell {

namespace {

// Asks for the key that replaces a lost one, for the lost key's local
// number; nothing when cancelled, an empty text for no new key.
std::optional<std::string> askNewKey(MainWindow& window, const std::string& local) {
    const int language = window.CurrentLanguage();
    QDialog dialog(&window);
    dialog.setObjectName(QStringLiteral("NewKeyDialog"));
    dialog.setWindowTitle(QString::fromUtf8(texts::flatActionName(FlatAction::LostKey, language)));
    dialog.setMinimumWidth(380);
    auto* layout = new QVBoxLayout(&dialog);
    auto* question = new QLabel(QString::fromUtf8(texts::flatText(texts::FlatText::NewKeyQuestion, language))
                                    .replace(QLatin1String("%s"), QString::fromStdString(local)),
                                &dialog);
    question->setWordWrap(true);
    layout->addWidget(question);
    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("NewKeyEdit"));
    edit->setMaxLength(64);
    layout->addWidget(edit);
    auto* problem = new QLabel(&dialog);
    problem->setObjectName(QStringLiteral("NewKeyProblem"));
    problem->setStyleSheet(QStringLiteral("color: #c00000"));
    problem->setWordWrap(true);
    layout->addWidget(problem);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("NewKeyOk"));
    buttons->addButton(window.messageText(texts::Message::ButtonCancel), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] {
        const Grid::Row row{local, trimBlanks(edit->text().toStdString())};
        if (row[1].empty()) return dialog.accept();
        const std::vector<std::string> headers = texts::gridHeaders(GridId::Keys, language);
        // The keys' grid's own checks: the cell's form, then the row's rules.
        const CellCheck form = checkGridCells(GridId::Keys, row);
        const RowCheck rules = checkGridRow(GridId::Keys, row);
        std::string why;
        if (form.problem != CellProblem::None)
            why = texts::brokenRuleText(headers[1], CellRule::KeySerial, language);
        else if (!rules.valid)
            why = texts::brokenRuleText(headers[static_cast<std::size_t>(rules.column)], rules.rule, language);
        if (why.empty()) return dialog.accept();
        problem->setText(QString::fromStdString(why));
        edit->setFocus();
    });
    if (window.prompts().runDialog(&dialog) != QDialog::Accepted) return std::nullopt;
    return trimBlanks(edit->text().toStdString());
}

}  // namespace

bool runFlatAction(MainWindow& window, FlatAction action, int plainRow, bool newMain) {
    const int language = window.CurrentLanguage();
    const FlatActionRow& row = flatActionRow(action);
    CodeGrid* grid = window.grid(row.grid);
    grid->commitEdit();
    const std::string named = grid->cell(plainRow, row.namedColumn).trimmed().toStdString();
    if (!window.storeTypedEdits()) return false;
    FlatRequest request;
    request.newMain = newMain;
    if (row.target == FlatTarget::Key && !named.empty()) {
        const auto typed = askNewKey(window, grid->cell(plainRow, 0).trimmed().toStdString());
        if (!typed) return false;
        request.newKey = *typed;
    }
    const FlatActionResult r = runFlatAction(window.document().working, action, named, request);
    const QString name = QString::fromUtf8(texts::flatActionName(action, language));
    if (r.refusal != FlatRefusal::None) {
        window.showMessage(name + QStringLiteral(": ") + QString::fromUtf8(texts::flatRefusalText(r.refusal, language)));
        return false;
    }
    // The grids the action changed show its result; headers stay.
    const WindowData shown = showImage(r.image);
    for (GridId id : {GridId::Keys, GridId::Residents, GridId::GeneralCodes}) {
        if (!r.changes.rowCount(id)) continue;
        Grid g = shown.grid(id);
        g.rows[0] = window.grid(id)->toGrid().rows[0];
        window.grid(id)->setGrid(g);
    }
    const auto slot = parseFlat(named);
    QStringList lines;
    for (const std::string& line : texts::newCodeLines(r, slot ? flatText(*slot) : std::string(), language))
        lines << QString::fromStdString(line);
    window.showMessage(name + (slot ? QStringLiteral(" ") + QString::fromStdString(flatText(*slot)) : QString()),
                       lines.join(QLatin1Char('\n')));
    return true;
}

bool flatCards(MainWindow& window, int plainRow, const FlatCards& cards, bool pdf) {
    CodeGrid* grid = window.grid(GridId::Residents);
    grid->commitEdit();
    const std::string named = grid->cell(plainRow, 0).trimmed().toStdString();
    if (!window.storeTypedEdits()) return false;
    const auto slot = parseFlat(named);
    if (!slot) {
        window.showMessage(QString::fromUtf8(texts::flatText(texts::FlatText::BadFlat, window.CurrentLanguage()))
                               .replace(QLatin1String("%s"), QString::fromStdString(named)));
        return false;
    }
    const Image flat = onlyFlat(window.document().working, *slot);
    if (pdf && cards.pdf) cards.pdf(flat, QStringLiteral("IKO-") + QString::fromStdString(flatText(*slot)));
    if (!pdf && cards.print) cards.print(flat);
    return true;
}

void installFlatMenus(MainWindow& window, const FlatCards& cards) {
    // One menu a code table, its entries the flat actions run on its rows.
    struct Menu {
        GridId grid;
        std::vector<std::pair<FlatAction, bool>> actions;  // action, new main code
    };
    std::vector<Menu> menus;
    for (const FlatActionRow& row : flatActions()) {
        auto menu = std::find_if(menus.begin(), menus.end(), [&](const Menu& m) { return m.grid == row.grid; });
        if (menu == menus.end()) menu = menus.insert(menus.end(), Menu{row.grid, {}});
        menu->actions.emplace_back(row.action, false);
        if (row.mainCodeToo) menu->actions.emplace_back(row.action, true);
    }
    for (const auto& m : menus) {
        CodeGrid* grid = window.grid(m.grid);
        grid->setContextMenuPolicy(Qt::CustomContextMenu);
        const bool withCards = m.grid == GridId::Residents && cards.print && cards.pdf;
        QObject::connect(
            grid, &QWidget::customContextMenuRequested, grid,
            [&window, grid, actions = m.actions, withCards, cards](const QPoint& at) {
                const int row = grid->rowAt(at.y());
                if (row < 0) return;
                QMenu menu(grid);
                menu.setObjectName(QStringLiteral("FlatMenu"));
                const int language = window.CurrentLanguage();
                for (const auto& [action, newMain] : actions) {
                    QString text = QString::fromUtf8(texts::flatActionName(action, language));
                    if (newMain) text += QString::fromUtf8(texts::flatText(texts::FlatText::NewMainSuffix, language));
                    QObject::connect(menu.addAction(text), &QAction::triggered, grid,
                                     [&window, action = action, newMain = newMain, row] {
                                         runFlatAction(window, action, row + 1, newMain);
                                     });
                }
                if (withCards) {
                    menu.addSeparator();
                    for (const bool pdf : {false, true})
                        QObject::connect(menu.addAction(QString::fromUtf8(texts::flatText(
                                             pdf ? texts::FlatText::CardsPdf : texts::FlatText::CardsPrint, language))),
                                         &QAction::triggered, grid,
                                         [&window, cards, row, pdf] { flatCards(window, row + 1, cards, pdf); });
                }
                menu.exec(grid->viewport()->mapToGlobal(at));
            });
    }
}

}  // namespace kelvane::shell
