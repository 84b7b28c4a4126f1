#include "cli/CliOutput.h"

#include <csignal>

namespace dh::cli {

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

QString replaceControls(QString s, bool keepLayout)
{
    for (QChar& ch : s) {
        const char16_t c = ch.unicode();
        if (!isControl(c))
            continue;
        const bool layout = c == u'\t' || c == u'\n' || c == u'\r';
        if (layout && keepLayout && c != u'\r')
            continue;
        // A carriage return would let a value overwrite the start of its line.
        ch = layout ? QChar(u' ') : QChar(QChar::ReplacementCharacter);
    }
    return s;
}

bool& failed(FILE* to)
{
    static bool out = false, err = false, other = false;
    return to == stdout ? out : to == stderr ? err : other;
}

} // namespace

QString plainField(QString s)
{
    return replaceControls(std::move(s), false);
}

QString plainText(QString s)
{
    return replaceControls(std::move(s), true);
}

void ignoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool writeBytes(FILE* to, const QByteArray& bytes)
{
    bool& broken = failed(to);
    if (broken)
        return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to) == size_t(bytes.size());
    broken = std::fflush(to) != 0 || !ok;
    return !broken;
}

bool writeText(FILE* to, const QString& text)
{
    return writeBytes(to, plainText(text).toLocal8Bit());
}

void errLine(const QString& text)
{
    writeText(stderr, text + QLatin1Char('\n'));
}

} // namespace dh::cli
