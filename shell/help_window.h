#pragma once
// KelvaneMini's user manual in an in-program help window: the manual's pages
// are carried as Qt resources (":/manual/...") and shown in a QTextBrowser
// beside a contents list. There is one help window; asking for help again
// shows and raises it.
#include <QString>
#include <QWidget>

#include <vector>

class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QToolButton;
class QUrl;

namespace kelvane::shell {

// One section of the manual, in reading order.
struct ManualSection {
    QString number;  // "3.1"
    QString title;   // "Kody, hasła i klucze"
    QString file;    // "kody.html", inside ":/manual/"
};

const std::vector<ManualSection>& manualSections();
// "qrc:/manual/<file>"
QUrl manualPageUrl(const QString& file);
// The manual's first page, with the contents.
QUrl manualIndexUrl();

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows a page of the manual, by file name ("kody.html") or "index.html".
    void showPage(const QString& file);

    QTextBrowser* browser() const { return browser_; }
    QTreeWidget* contents() const { return contents_; }

private:
    void sourceChanged(const QUrl& url);
    void contentsClicked(QTreeWidgetItem* item);

    QTextBrowser* browser_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    QToolButton* home_ = nullptr;
};

// Shows the one help window (created on first use as a window of `parent`),
// restores it when minimised and raises it. With a page name, that page is
// shown; otherwise the window keeps the page it showed last. Returns it.
HelpWindow* showHelp(QWidget* parent, const QString& page = QString());

}  // namespace kelvane::shell
