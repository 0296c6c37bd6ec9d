#pragma once
// A panel that places its controls in cells of a grid whose columns and rows
// take fixed percentages of its size; a control may span several cells.
#include <QVector>
#include <QWidget>

namespace kelvane::shell {

class GridPanel : public QWidget {
    Q_OBJECT
public:
    GridPanel(QVector<int> columnPercents, QVector<int> rowPercents, QWidget* parent = nullptr);
    // Puts the control (made a child of the panel) into the given cells.
    void addControl(QWidget* control, int column, int row, int columnSpan = 1, int rowSpan = 1);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Cell {
        QWidget* control;
        int column, row, columnSpan, rowSpan;
    };
    void place();
    static QVector<int> edges(const QVector<int>& percents, int length);

    QVector<int> columns_, rows_;
    QVector<Cell> cells_;
};

}  // namespace kelvane::shell
