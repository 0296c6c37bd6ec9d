#pragma once
// The question before an upload when the controller changed since the image
// the edits started from: what the file sends, what the controller keeps, and
// one row per conflict with both values and a choice between them. Send stays
// disabled until every conflict has a choice, unless the technician makes the
// controller equal to the file; Cancel answers Enter.
#include "image/merge.h"

#include <QDialog>
#include <QString>

#include <vector>

class QButtonGroup;
class QCheckBox;
class QPushButton;

namespace kelvane::shell {

struct MergeDialogTexts {
    QString title;
    QString baseDate;    // when the base was read or written
    QString itemColumn;  // the conflicts' columns
    QString fileColumn;
    QString controllerColumn;
    QString overwrite;  // "make the controller equal to the file"
    QString send;
    QString cancel;
};

struct MergeAnswer {
    bool send = false;
    bool overwrite = false;            // send the file as it is
    std::vector<MergeChoice> choices;  // one per merge item
};

class MergeDialog : public QDialog {
    Q_OBJECT
public:
    MergeDialog(QWidget* parent, const ThreeWayMerge& merge, const MergeDialogTexts& texts, int language);
    // The answer for the dialog's result code (QDialog::Accepted: Send).
    MergeAnswer answer(int result) const;

private:
    void updateSend();

    std::size_t itemCount_;
    std::vector<std::size_t> conflicts_;  // item index of each conflict row
    std::vector<QButtonGroup*> choices_;  // per conflict row: file (0) or controller (1)
    QCheckBox* overwrite_;
    QPushButton* send_;
};

}  // namespace kelvane::shell
