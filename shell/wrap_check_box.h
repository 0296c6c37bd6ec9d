#pragma once
// A check box whose caption wraps onto further lines when it does not fit.
#include <QCheckBox>

namespace kelvane::shell {

class WrapCheckBox : public QCheckBox {
public:
    explicit WrapCheckBox(const QString& text, QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    int indicatorSpace() const;
    QRect textRect(int width) const;
};

}  // namespace kelvane::shell
