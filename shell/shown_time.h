#pragma once
// Dates and times as the windows show them: one format per language (the
// texts layer's), from a QDateTime or from a time the register keeps.
#include "texts/visit_texts.h"

#include <QDateTime>
#include <QString>

#include <string>

namespace kelvane::shell {

inline texts::LocalTime localTime(const QDateTime& t) {
    const QDate d = t.date();
    const QTime c = t.time();
    return {d.year(), d.month(), d.day(), c.hour(), c.minute(), c.second()};
}

inline QString shownDateTime(const QDateTime& t, int language) {
    return QString::fromStdString(texts::dateTimeText(localTime(t), language));
}

inline QString shownDate(const QDateTime& t, int language) {
    return QString::fromStdString(texts::dateText(localTime(t), language));
}

// A stored ISO 8601 time in the local time it was taken; a text that is not
// one is shown as stored.
inline QString shownDateTime(const std::string& iso, int language) {
    const QDateTime t = QDateTime::fromString(QString::fromStdString(iso), Qt::ISODate);
    return t.isValid() ? shownDateTime(t, language) : QString::fromStdString(iso);
}

}  // namespace kelvane::shell
