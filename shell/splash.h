#pragma once
// The splash window shown for two seconds at start-up, before the main window.
#include <QWidget>

class QLabel;
class QTimer;

namespace kelvane::shell {

class SplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 2000;
    // Shows itself at once; when showTimer_ fires it closes, shows `mainWindow`
    // and releases itself.
    explicit SplashWindow(QWidget* mainWindow);

    QTimer* showTimer_ = nullptr;
    QLabel* picture_ = nullptr;

public slots:
    void onShowTimeOver();

private:
    QWidget* mainWindow_;
};

// The splash picture: the carried one, or a drawn one. Black is see-through.
QPixmap splashPicture();

}  // namespace kelvane::shell
