#include "shell/grid_panel.h"

#include <numeric>

namespace kelvane::shell {

GridPanel::GridPanel(QVector<int> columnPercents, QVector<int> rowPercents, QWidget* parent)
    : QWidget(parent), columns_(std::move(columnPercents)), rows_(std::move(rowPercents)) {}

void GridPanel::addControl(QWidget* control, int column, int row, int columnSpan, int rowSpan) {
    control->setParent(this);
    cells_.push_back({control, column, row, columnSpan, rowSpan});
    place();
}

void GridPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

QVector<int> GridPanel::edges(const QVector<int>& percents, int length) {
    const int total = std::max(1, std::accumulate(percents.begin(), percents.end(), 0));
    QVector<int> e{0};
    int sum = 0;
    for (int p : percents) {
        sum += p;
        e.push_back(length * sum / total);
    }
    return e;
}

void GridPanel::place() {
    const QVector<int> x = edges(columns_, width());
    const QVector<int> y = edges(rows_, height());
    for (const Cell& c : cells_) {
        const int left = x[c.column], right = x[c.column + c.columnSpan];
        const int top = y[c.row], bottom = y[c.row + c.rowSpan];
        // A small gap keeps neighbouring group boxes apart.
        c.control->setGeometry(left + 2, top + 1, right - left - 4, bottom - top - 2);
    }
}

}  // namespace kelvane::shell
