#pragma once
// The change list on screen: a tree with one branch per group ("Title (count)")
// and one leaf per line, and the two dialogs that show it: the list alone
// (Compare, the controller check) and the question before an upload.
#include "texts/change_text.h"

#include <QDialog>
#include <QString>

#include <vector>

class QCheckBox;
class QTreeWidget;

namespace kelvane::shell {

// Fills a tree with the groups, every branch open.
void fillChangeTree(QTreeWidget* tree, const std::vector<texts::ChangeGroup>& groups);

// What a change dialog says besides the list, in the language of the moment.
struct ChangeDialogTexts {
    QString title;
    QString warning;     // shown first, in bold red; empty for none
    QString note;        // a plain line above the list ("No differences"); empty for none
    QString accept;      // the button that goes on (Send); empty: a dialog with one button
    QString reject;      // Cancel / Close
    QString dontAsk;     // "don't ask again" check box; empty: none
    QString checkAfter;  // "check after sending" check box; empty: none
    bool checkAfterTicked = false;
    bool rejectIsDefault = false;  // Cancel, not the accept button, answers Enter
};

// What the technician chose in an upload question.
struct UploadAnswer {
    bool send = false;
    bool dontAskAgain = false;
    bool checkAfter = false;
};

class ChangeDialog : public QDialog {
    Q_OBJECT
public:
    ChangeDialog(QWidget* parent, const ChangeDialogTexts& texts, const std::vector<texts::ChangeGroup>& groups);
    UploadAnswer answer() const;
    QTreeWidget* tree() const { return tree_; }

private:
    QTreeWidget* tree_;
    QCheckBox* dontAsk_ = nullptr;
    QCheckBox* checkAfter_ = nullptr;
};

}  // namespace kelvane::shell
