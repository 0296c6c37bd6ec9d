#pragma once
// The splash window shown for two seconds at start-up, before the main window.
#include <QWidget>

class QLabel;
class QTimer;

namespace kelvane::shell {

class TForm2 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 2000;
    // Shows itself at once; when Timer1 fires it closes, shows `mainWindow`
    // and releases itself.
    explicit TForm2(QWidget* mainWindow);

    QTimer* Timer1 = nullptr;
    QLabel* Image1 = nullptr;

public slots:
    void Timer1Timer();

private:
    QWidget* mainWindow_;
};

// The splash picture: the carried one, or a drawn one. Black is see-through.
QPixmap splashPicture();

}  // namespace kelvane::shell
