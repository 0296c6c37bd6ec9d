#pragma once
// One of the four code grids: a table whose header row is the plain grid's
// row 0, so plain row r is table row r - 1. Cells are edited through
// per-column edit masks.
#include "image/grid.h"

#include <QStyledItemDelegate>
#include <QTableWidget>

#include <functional>

namespace kelvane::shell {

// Converts an edit mask of the form "9999", "9.999", ">AA AA" (9 optional
// digit, 0 required digit, A/a alphanumeric required/optional, L/l letter,
// C/c any character, > upper case) into Qt's input mask.
QString toQtInputMask(const QString& editMask);

// Edits cells in a line edit carrying the cell's edit mask. A cell left with
// nothing typed into the mask's positions stays the empty text.
class MaskDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // mask(column, row) gives the edit mask of a cell; empty for none.
    using MaskFor = std::function<QString(int column, int row)>;
    MaskDelegate(MaskFor mask, QObject* parent);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

private:
    MaskFor mask_;
};

class CodeGrid : public QTableWidget {
    Q_OBJECT
public:
    CodeGrid(GridId id, QWidget* parent = nullptr);

    // The grid as plain data: header texts in row 0, then every data row;
    // the current cell included.
    Grid toGrid() const;
    // Replaces headers, rows and the current cell; a cell being edited is
    // left unchanged and its editor closed.
    void setGrid(const Grid& grid);
    // Writes the text of a cell being edited into the grid and closes the editor.
    void commitEdit();
    // Closes the editor of a cell being edited, dropping what was typed.
    void cancelEdit();

    // Plain row numbering: 0 is the header row.
    int plainRowCount() const { return rowCount() + 1; }
    // Data rows with at least one non-empty cell.
    int filledRowCount() const;

signals:
    // The data rows or their texts changed (once for a whole setGrid).
    void rowsChanged();

public:
    QString cell(int plainRow, int column) const;
    void setCell(int plainRow, int column, const QString& text);

private:
    void contentsChanged();

    bool replacing_ = false;
};

}  // namespace kelvane::shell
