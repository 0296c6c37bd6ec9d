#pragma once
// The question before an upload when the controller changed since the image
// the edits started from: what the file sends, what the controller keeps, the
// blocks and time and the configuration's warnings (made again as choices
// change), and one row per conflict with the base value and both sides, the
// part that differs marked, and a choice between them. Send stays disabled
// until every conflict has a choice, unless the technician makes the
// controller equal to the file; Cancel answers Enter.
#include "image/merge.h"
#include "texts/change_text.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QPushButton;
class QTreeWidget;

namespace kelvane::shell {

// What the merge dialog shows besides its texts, which it takes from the
// language table in its language.
struct MergeDialogOptions {
    QString baseDate;              // when the base was read or written
    bool offerCheckAfter = false;  // the "check after sending" check box
    bool checkAfterTicked = false;
};

struct MergeAnswer {
    bool send = false;
    bool overwrite = false;  // send the file as it is
    bool checkAfter = false;
    std::vector<MergeChoice> choices;  // one per merge item
};

class MergeDialog : public QDialog {
    Q_OBJECT
public:
    // The list above the conflicts for the choices made so far (without the
    // conflicts); nothing: the merge's groups alone.
    using Describe = std::function<std::vector<texts::ChangeGroup>(const std::vector<MergeChoice>&, bool overwrite)>;
    MergeDialog(QWidget* parent, const ThreeWayMerge& merge, const MergeDialogOptions& options, int language,
                Describe describe = nullptr);
    // The answer for the dialog's result code (QDialog::Accepted: Send).
    MergeAnswer answer(int result) const;

private:
    void updateSend();
    std::vector<MergeChoice> choices() const;

    std::size_t itemCount_;
    std::vector<std::size_t> conflicts_;  // item index of each conflict row
    std::vector<QButtonGroup*> choices_;  // per conflict row: file (0) or controller (1)
    QCheckBox* overwrite_;
    QCheckBox* checkAfter_ = nullptr;
    QTreeWidget* tree_;
    Describe describe_;
    QPushButton* send_;
};

}  // namespace kelvane::shell
