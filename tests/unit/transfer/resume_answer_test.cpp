#include "../update/FakeTransfer.h"
#include "download/TransferSupport.h"
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace dh::test {
namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;
// Which answers go on from a kept body of 600 of 1000 bytes, and which
// answers leave a body a later attempt may go on from.
TEST(ResumeAnswer, OnlyTheRestOfTheSameWholeContinuesAndOnlyStrongValidatorsAreKept)
{
    const PartialBody kept{QStringLiteral("/x"), QStringLiteral("\"v\""), 600, 1000};
    const struct { int status; const char* range; bool continues; } answers[] = {
        {206, "bytes 600-999/1000", true}, {206, "bytes 500-999/1000", false}, {206, "bytes 600-999/2000", false},
        {206, "bytes 600-799/1000", false}, {206, "bytes */1000", false},      {200, "bytes 600-999/1000", false},
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(a.range);
        FakeRequest r(QStringLiteral("http://h/f"));
        r.respond(a.status, QStringLiteral("R"), Headers{{"Content-Range", a.range}});
        EXPECT_EQ(answerContinues(r, kept), a.continues);
    }
    QTemporaryDir dir;
    const QString temp = dir.filePath(QStringLiteral(".dh-1.part"));
    QFile f(temp);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(600, 'a')) == 600);
    f.close();
    const QByteArray date = "Wed, 09 Dec 2026 10:00:00 GMT";
    // validator: empty when nothing may be kept.
    const struct { const char* what; Headers headers; qint64 total; QByteArray validator; } keeps[] = {
        {"strong ETag", {{"Accept-Ranges", "bytes"}, {"ETag", "\"e1\""}, {"Last-Modified", date}}, 1000, "\"e1\""},
        {"weak ETag", {{"Accept-Ranges", "bytes"}, {"ETag", "W/\"e1\""}, {"Last-Modified", date}}, 1000, date},
        {"weak ETag alone", {{"Accept-Ranges", "bytes"}, {"ETag", "W/\"e1\""}}, 1000, ""},
        {"no ranges", {{"Accept-Ranges", "none"}, {"ETag", "\"e1\""}}, 1000, ""},
        {"all there", {{"Accept-Ranges", "bytes"}, {"ETag", "\"e1\""}}, 600, ""},
        {"line break", {{"Accept-Ranges", "bytes"}, {"ETag", "\"e\r\nX: 1\""}}, 1000, ""},
    };
    for (const auto& k : keeps) {
        SCOPED_TRACE(k.what);
        FakeRequest r(QStringLiteral("http://h/f"));
        r.respond(200, QStringLiteral("OK"), k.headers);
        const PartialBody got = resumableBody(r, temp, k.total);
        EXPECT_EQ(got.validator.toLatin1(), k.validator);
        EXPECT_EQ(got.isSet(), !k.validator.isEmpty());
    }
}

} // namespace
} // namespace dh::test
