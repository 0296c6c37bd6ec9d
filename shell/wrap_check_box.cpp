#include "shell/wrap_check_box.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace kelvane::shell {

WrapCheckBox::WrapCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum, QSizePolicy::CheckBox);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int WrapCheckBox::indicatorSpace() const {
    return style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) +
           style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this);
}

QRect WrapCheckBox::textRect(int width) const {
    const int textWidth = std::max(1, width - indicatorSpace());
    return fontMetrics().boundingRect(QRect(0, 0, textWidth, 10000), Qt::TextWordWrap, text());
}

int WrapCheckBox::heightForWidth(int width) const {
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return std::max({indicator, textRect(width).height(), QCheckBox::sizeHint().height()}) + 2;
}

QSize WrapCheckBox::sizeHint() const {
    const QSize one = QCheckBox::sizeHint();
    return QSize(one.width(), heightForWidth(width() > 0 ? width() : one.width()));
}

QSize WrapCheckBox::minimumSizeHint() const {
    return QSize(indicatorSpace() + 40, QCheckBox::minimumSizeHint().height());
}

void WrapCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text.clear();
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    opt.rect = QRect(0, std::max(0, (fontMetrics().height() - indicator) / 2) + 1, indicatorSpace(), indicator);
    p.drawControl(QStyle::CE_CheckBox, opt);
    const QRect text(indicatorSpace(), 1, width() - indicatorSpace(), height() - 1);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(text, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, this->text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = text.adjusted(-1, 0, 0, 0);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

}  // namespace kelvane::shell
