#include "shell/flat_menu.h"

#include "image/code_rules.h"
#include "image/flat_actions.h"
#include "image/window_data.h"
#include "shell/code_grid.h"
#include "shell/main_window.h"

#include <QMenu>
#include <QStringList>

namespace kelvane::shell {

namespace {

using texts::FlatAction;

GridId gridOf(FlatAction action) {
    switch (action) {
    case FlatAction::LostKey: return GridId::Keys;
    case FlatAction::GeneralCode: return GridId::GeneralCodes;
    default: return GridId::Residents;
    }
}

// The action on the image, with what the row names.
FlatActionResult act(const Image& image, FlatAction action, const std::string& named, bool newMain) {
    switch (action) {
    case FlatAction::MovedOut:
    case FlatAction::NewResident: {
        const auto slot = parseFlat(named);
        if (!slot) return {FlatRefusal::NoSuchFlat, image, {}, {}, 0};
        return action == FlatAction::MovedOut ? movedOut(image, *slot)
                                              : newResident(image, *slot, {newMain, std::nullopt, std::nullopt});
    }
    case FlatAction::LostKey: return lostKey(image, named);
    case FlatAction::GeneralCode: {
        const int code = readNumberCell(named);
        return newGeneralCode(image, code > 0 ? code : -1);
    }
    }
    return {};
}

}  // namespace

bool runFlatAction(MainWindow& window, FlatAction action, int plainRow, bool newMain) {
    const int language = window.CurrentLanguage();
    CodeGrid* grid = window.grid(gridOf(action));
    grid->commitEdit();
    const std::string named = grid->cell(plainRow, action == FlatAction::LostKey ? 1 : 0).trimmed().toStdString();
    if (!window.storeTypedEdits()) return false;
    const FlatActionResult r = act(window.document().working, action, named, newMain);
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

void installFlatMenus(MainWindow& window) {
    const struct {
        GridId grid;
        std::vector<std::pair<FlatAction, bool>> actions;  // action, new main code
    } menus[] = {
        {GridId::Residents,
         {{FlatAction::MovedOut, false}, {FlatAction::NewResident, false}, {FlatAction::NewResident, true}}},
        {GridId::Keys, {{FlatAction::LostKey, false}}},
        {GridId::GeneralCodes, {{FlatAction::GeneralCode, false}}},
    };
    for (const auto& m : menus) {
        CodeGrid* grid = window.grid(m.grid);
        grid->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(grid, &QWidget::customContextMenuRequested, grid,
                         [&window, grid, actions = m.actions](const QPoint& at) {
                             const int row = grid->rowAt(at.y());
                             if (row < 0) return;
                             QMenu menu(grid);
                             menu.setObjectName(QStringLiteral("FlatMenu"));
                             const int language = window.CurrentLanguage();
                             for (const auto& [action, newMain] : actions) {
                                 QString text = QString::fromUtf8(texts::flatActionName(action, language));
                                 if (newMain) text += QString::fromUtf8(texts::newMainSuffix(language));
                                 QObject::connect(menu.addAction(text), &QAction::triggered, grid,
                                                  [&window, action = action, newMain = newMain, row] {
                                                      runFlatAction(window, action, row + 1, newMain);
                                                  });
                             }
                             menu.exec(grid->viewport()->mapToGlobal(at));
                         });
    }
}

}  // namespace kelvane::shell
