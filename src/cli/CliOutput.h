#pragma once
// What docharvest-cli prints and stores as text goes through here: values
// from pages, servers and link files are made harmless for a terminal, and
// a reader that goes away (`| head`) costs only the output, never the run.
#include <QByteArray>
#include <QString>

#include <cstdio>

namespace dh::cli {

// A value from outside (a title, an address, a server's message) for one
// field of a line: tabs and line breaks become spaces, other control
// characters (C0, DEL, C1: escape sequences, BEL, NUL) become U+FFFD.
QString plainField(QString s);
// The same for a whole message, whose own line breaks and tabs stay.
QString plainText(QString s);

// Broken pipes no longer end the program: called once at start.
void ignoreBrokenPipes();
// Writes and flushes. A stream that failed once (its reader is gone, the
// disk is full) is not written again; false then and on the failure itself.
bool writeBytes(FILE* to, const QByteArray& bytes);
// plainText of the text, in the locale's encoding.
bool writeText(FILE* to, const QString& text);
// One line on standard error.
void errLine(const QString& text);

} // namespace dh::cli
