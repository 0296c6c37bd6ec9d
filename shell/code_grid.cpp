#include "shell/code_grid.h"

#include <QHeaderView>
#include <QLineEdit>

namespace kelvane::shell {

QString toQtInputMask(const QString& editMask) {
    // Only the mask part; the fields after ';' say how literals are kept.
    const QString mask = editMask.section(QLatin1Char(';'), 0, 0);
    QString out;
    for (int i = 0; i < mask.size(); ++i) {
        const QChar c = mask[i];
        switch (c.unicode()) {
        case '9': out += QLatin1Char('0'); break;
        case '0': out += QLatin1Char('9'); break;
        case 'A': out += QLatin1Char('N'); break;
        case 'a': out += QLatin1Char('n'); break;
        case 'L': out += QLatin1Char('A'); break;
        case 'l': out += QLatin1Char('a'); break;
        case 'C': out += QLatin1Char('X'); break;
        case 'c': out += QLatin1Char('x'); break;
        case '#':
        case '>':
        case '<':
        case '!': out += c; break;
        case '\\':
            if (i + 1 < mask.size()) out += QLatin1Char('\\') + mask[++i];
            break;
        default:
            // A literal; escaped where Qt would read it as a mask character.
            if (QStringLiteral("AaNnXx90Dd#HhBb><!{}[]\\").contains(c)) out += QLatin1Char('\\');
            out += c;
        }
    }
    return out;
}

namespace {
// Text a masked line edit reports while nothing has been typed.
QString emptyMaskedText(const QString& qtMask) {
    QLineEdit probe;
    probe.setInputMask(qtMask);
    probe.setText(QString());
    return probe.text();
}
}  // namespace

MaskDelegate::MaskDelegate(MaskFor mask, QObject* parent) : QStyledItemDelegate(parent), mask_(std::move(mask)) {}

QWidget* MaskDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    const QString mask = mask_ ? mask_(index.column(), index.row() + 1) : QString();
    if (!mask.isEmpty()) edit->setInputMask(toQtInputMask(mask));
    return edit;
}

void MaskDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* edit = static_cast<QLineEdit*>(editor);
    edit->setText(index.data(Qt::EditRole).toString());
    edit->setModified(false);
}

void MaskDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
    auto* edit = static_cast<QLineEdit*>(editor);
    if (!edit->isModified()) return;
    QString text = edit->text();
    if (!edit->inputMask().isEmpty() && text == emptyMaskedText(edit->inputMask())) text.clear();
    model->setData(index, text, Qt::EditRole);
}

CodeGrid::CodeGrid(GridId id, QWidget* parent) : QTableWidget(parent) {
    setObjectName(QString::fromLatin1(gridName(id)));
    setColumnCount(gridColumns(id));
    setRowCount(1);
    for (int c = 0; c < columnCount(); ++c) setHorizontalHeaderItem(c, new QTableWidgetItem(QString()));
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(16);
    verticalHeader()->setMinimumSectionSize(12);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Rows that do not fit show a scroll bar, so hundreds of rows are not hidden.
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setCurrentCell(0, 0);
    connect(this, &QTableWidget::itemChanged, this, &CodeGrid::contentsChanged);
    connect(model(), &QAbstractItemModel::rowsInserted, this, &CodeGrid::contentsChanged);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, &CodeGrid::contentsChanged);
}

void CodeGrid::contentsChanged() {
    if (!replacing_) emit rowsChanged();
}

int CodeGrid::filledRowCount() const {
    int filled = 0;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (const QTableWidgetItem* it = item(r, c); it && !it->text().isEmpty()) {
                ++filled;
                break;
            }
    return filled;
}

QString CodeGrid::cell(int plainRow, int column) const {
    if (plainRow == 0) {
        const QTableWidgetItem* h = horizontalHeaderItem(column);
        return h ? h->text() : QString();
    }
    const QTableWidgetItem* it = item(plainRow - 1, column);
    return it ? it->text() : QString();
}

void CodeGrid::setCell(int plainRow, int column, const QString& text) {
    if (plainRow == 0) {
        if (QTableWidgetItem* h = horizontalHeaderItem(column))
            h->setText(text);
        else
            setHorizontalHeaderItem(column, new QTableWidgetItem(text));
        return;
    }
    if (QTableWidgetItem* it = item(plainRow - 1, column)) {
        if (it->text() != text) it->setText(text);
    } else if (!text.isEmpty()) {
        setItem(plainRow - 1, column, new QTableWidgetItem(text));
    }
}

Grid CodeGrid::toGrid() const {
    Grid g;
    const int cols = columnCount();
    g.rows.resize(static_cast<std::size_t>(plainRowCount()), Grid::Row(static_cast<std::size_t>(cols)));
    for (int r = 0; r < plainRowCount(); ++r)
        for (int c = 0; c < cols; ++c) g.rows[r][c] = cell(r, c).toStdString();
    g.currentRow = currentRow() < 0 ? 1 : currentRow() + 1;
    g.currentCol = currentColumn() < 0 ? 0 : currentColumn();
    return g;
}

void CodeGrid::commitEdit() {
    if (state() != EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void CodeGrid::cancelEdit() {
    if (state() != EditingState) return;
    if (QWidget* editor = indexWidget(currentIndex())) closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

void CodeGrid::setGrid(const Grid& grid) {
    cancelEdit();
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    replacing_ = true;
    const int cols = columnCount();
    setRowCount(std::max(1, grid.rowCount() - 1));
    static const Grid::Row kNoCells;
    for (int r = 0; r < plainRowCount(); ++r) {
        const Grid::Row& row = r < grid.rowCount() ? grid.rows[r] : kNoCells;
        for (int c = 0; c < cols; ++c)
            setCell(r, c, c < static_cast<int>(row.size()) ? QString::fromStdString(row[c]) : QString());
    }
    const int current = std::clamp(grid.currentRow, 1, std::max(1, grid.rowCount() - 1));
    setCurrentCell(current - 1, std::clamp(grid.currentCol, 0, cols - 1));
    setUpdatesEnabled(updates);
    replacing_ = false;
    emit rowsChanged();
}

}  // namespace kelvane::shell
