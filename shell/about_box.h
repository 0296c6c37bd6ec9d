#pragma once
// The About dialog: program name, version, and a mail link to the support.
#include <QDialog>

class QLabel;

namespace kelvane::shell {

// The maker's support address of the About dialog's mail link.
extern const char* const kSupportAddress;

// "mailto:<support address>?subject=Program KelvaneMini"
QString supportMailLink();

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

public slots:
    // Asks the system to open the mail link.
    void onSendComments();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* comments_ = nullptr;
};

}  // namespace kelvane::shell
