#pragma once
// The words of a PDF with their positions, as pdftotext -bbox reports them.
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <algorithm>

struct Word {
    double xMin, yMin;
    QString text;
};

// Words per page, positions in points.
inline QList<QList<Word>> readWords(const QString& pdftotext, const QString& pdf) {
    QProcess proc;
    proc.start(pdftotext, {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!proc.waitForFinished(20000)) return {};
    const QString html = QString::fromUtf8(proc.readAllStandardOutput());
    QList<QList<Word>> pages;
    static const QRegularExpression tag(
        QStringLiteral(R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>([^<]*)</word>)re"));
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            pages.append(QList<Word>());
        } else if (!pages.isEmpty()) {
            QString text = m.captured(3);
            text.replace(QLatin1String("&amp;"), QLatin1String("&"));
            pages.last().append(Word{m.captured(1).toDouble(), m.captured(2).toDouble(), text});
        }
    }
    return pages;
}

inline bool containsWord(const QList<Word>& words, const QString& text) {
    return std::any_of(words.begin(), words.end(), [&](const Word& w) { return w.text == text; });
}

// Logical card units (tenths of a millimetre) in points.
inline double points(int logical) { return logical * 72.0 / 254.0; }
