#pragma once
#include <QString>
#include <QStringList>

namespace dh {

// The four document types of the query panel, in the order the batch runs them.
inline const QStringList& searchTypes()
{
    static const QStringList t = {QStringLiteral("pdf"), QStringLiteral("doc"), QStringLiteral("ppt"),
                                  QStringLiteral("xls")};
    return t;
}

// base + "/p?w=" + q + "+filetype%3A" + type, where q is the encoded, trimmed
// keyword group, wrapped in "%22" quotes when whole is set.
QString composeSearchAddress(const QString& base, const QString& keywords, const QString& type, bool whole);

// The search home page: base + "/p?w=1".
QString searchHomeAddress(const QString& base);

// The keyword list split into lines: CR LF, lone CR and LF all end a line (the
// editor holds "\n", the settings store CR LF).
QStringList splitKeywordLines(const QString& text);

} // namespace dh
