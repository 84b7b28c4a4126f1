// Documents, their transfer variants, and the login that unlocks protected ones.

#include "DemoTestUtil.h"
#include "demo/DemoDocuments.h"

#include <QtEndian>

using namespace dh::demo;
using namespace dh::demo::test;

namespace {

quint16 le16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 le32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

// Follows the compound file's own tables to the named stream; empty when
// the structure does not lead there.
QByteArray oleStream(const QByteArray& f, const QString& wanted)
{
    if (f.size() < 1024 || le16(f, 30) != 9)
        return {};
    const quint32 fatSectors = le32(f, 44);
    QList<quint32> fat;
    for (quint32 i = 0; i < fatSectors && i < 109; ++i) {
        const qsizetype off = 512 + qsizetype(le32(f, 76 + 4 * i)) * 512;
        if (off + 512 > f.size())
            return {};
        for (int k = 0; k < 128; ++k)
            fat.append(le32(f, off + 4 * k));
    }
    auto chain = [&](quint32 s) {
        QByteArray out;
        for (int guard = 0; s < 0xfffffffau && guard < 10000; ++guard) {
            if (s >= quint32(fat.size()) || 512 + qsizetype(s + 1) * 512 > f.size())
                return QByteArray();
            out += f.mid(512 + qsizetype(s) * 512, 512);
            s = fat[s];
        }
        return out;
    };
    const QByteArray dir = chain(le32(f, 48));
    for (qsizetype e = 0; e + 128 <= dir.size(); e += 128) {
        const int nameBytes = le16(dir, e + 64);
        if (nameBytes < 2 || nameBytes > 64)
            continue;
        const QString name = QString::fromUtf16(reinterpret_cast<const char16_t*>(dir.constData() + e), nameBytes / 2 - 1);
        if (dir[e + 66] == 2 && name == wanted)
            return chain(le32(dir, e + 116)).left(le32(dir, e + 120));
    }
    return {};
}

// Inflates the stored deflate blocks the service writes.
QByteArray inflateStored(const QByteArray& in)
{
    QByteArray out;
    qsizetype pos = 0;
    for (;;) {
        if (pos + 5 > in.size() || (in[pos] & 0x06) != 0)
            return QByteArray("<bad>");
        const bool last = in[pos] & 1;
        const quint16 len = le16(in, pos + 1);
        if (quint16(~le16(in, pos + 3)) != len)
            return QByteArray("<bad>");
        out += in.mid(pos + 5, len);
        pos += 5 + len;
        if (last)
            return out;
    }
}

} // namespace

class DemoDocuments : public DemoFixture {};

TEST_F(DemoDocuments, EveryTypeStartsWithItsSignature)
{
    startService();
    struct Case {
        const char* path;
        QByteArray head;        // bytes at offset 0
        QByteArray at512;       // bytes at offset 512 (compound files)
        const char* contentType;
    };
    const Case cases[] = {
        {"/doc/a-1.pdf", "%PDF-1.4", {}, "application/pdf"},
        {"/doc/a-1.PDF", "%PDF-1.4", {}, "application/pdf"},
        {"/doc/a-1.doc", QByteArray::fromHex("D0CF11E0A1B11AE1"), QByteArray::fromHex("ECA5C100"), "application/msword"},
        {"/doc/a-1.xls", QByteArray::fromHex("D0CF11E0A1B11AE1"), QByteArray::fromHex("09081000"),
         "application/vnd.ms-excel"},
        {"/doc/a-1.Ppt", QByteArray::fromHex("D0CF11E0A1B11AE1"), {}, "application/vnd.ms-powerpoint"},
        {"/doc/a-1.docx", QByteArray::fromHex("504B0304140006000800"), {},
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"/doc/a-1.caj", QByteArray::fromHex("C8000000"), {}, "application/caj"},
        {"/doc/a-1.kdh", QByteArray("KDH "), {}, "application/kdh"},
        {"/doc/a-1.nh", QByteArray("HN\0\0", 4), {}, "application/nh"},
        {"/doc/a-1.caa", QByteArray("[TARGET]"), {}, "application/caa"},
        {"/doc/a-1.txt", QByteArray("DocHarvest"), {}, "text/plain; charset=utf-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto res = client->Get(c.path);
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        const QByteArray body = QByteArray::fromStdString(res->body);
        EXPECT_TRUE(body.startsWith(c.head));
        if (!c.at512.isEmpty()) {
            EXPECT_EQ(body.mid(512, 4), c.at512);
        }
        EXPECT_EQ(res->get_header_value("Content-Type"), c.contentType);
        EXPECT_EQ(res->get_header_value("Content-Length"), std::to_string(body.size()));
    }
    // The ppt marker is the fourth byte of the first sector after the header.
    EXPECT_EQ(quint8(getBody("/doc/a-1.ppt").at(515)), 0xF0);
    // The descriptor stays small and holds every key.
    const QByteArray caa = getBody("/doc/a-1.caa");
    EXPECT_LT(caa.size(), 3072);
    for (const char* key : {"[TARGET]", "A1=", "A2=", "B1=", "B2=", "C1=", "C2=", "D1=", "D2=", "DOCTYPE="})
        EXPECT_TRUE(caa.contains(key)) << key;
    getBody("/doc/a-1.pdfx", 404);
    getBody("/doc/a-1", 404);
}

TEST_F(DemoDocuments, GeneratedFilesAreStructurallyValid)
{
    // PDF: startxref points at the table, and every entry at its object.
    const QByteArray pdf = makePdf(QStringLiteral("abc (x) \\ 中"));
    const qsizetype sx = pdf.lastIndexOf("startxref\n");
    ASSERT_GT(sx, 0);
    const qsizetype xref = pdf.mid(sx + 10).split('\n').first().toLongLong();
    ASSERT_TRUE(pdf.mid(xref).startsWith("xref\n0 6\n"));
    const QList<QByteArray> lines = pdf.mid(xref).split('\n');
    for (int obj = 1; obj <= 5; ++obj) {
        const QByteArray entry = lines.at(2 + obj);
        EXPECT_EQ(entry.size(), 19);  // 20 bytes with the line feed
        EXPECT_TRUE(pdf.mid(entry.left(10).toLongLong()).startsWith(QByteArray::number(obj) + " 0 obj"));
    }
    EXPECT_TRUE(pdf.endsWith("%%EOF\n"));

    // Compound files: the stream reached through FAT and directory is the
    // one whose marker sits right after the header.
    const struct {
        const char* type;
        const char* stream;
    } ole[] = {{"doc", "WordDocument"}, {"xls", "Workbook"}, {"ppt", "PowerPoint Document"}};
    for (const auto& o : ole) {
        const QByteArray f = makeOleDocument(QString::fromLatin1(o.type), QStringLiteral("x"));
        const QByteArray stream = oleStream(f, QString::fromLatin1(o.stream));
        ASSERT_GE(stream.size(), 4096) << o.type;
        EXPECT_EQ(stream.left(4), f.mid(512, 4)) << o.type;
        EXPECT_EQ(f.size() % 512, 0) << o.type;
    }
    EXPECT_TRUE(makeOleDocument(QStringLiteral("pdf"), {}).isEmpty());

    // ZIP: the central directory lists every entry, and each entry inflates
    // to data matching its CRC.
    const QByteArray zip = makeDocx(QStringLiteral("中文 & <x>"));
    const qsizetype eocd = zip.lastIndexOf(QByteArray::fromHex("504B0506"));
    ASSERT_GT(eocd, 0);
    const int entries = le16(zip, eocd + 10);
    EXPECT_EQ(entries, 3);
    qsizetype cd = le32(zip, eocd + 16);
    QStringList names;
    for (int i = 0; i < entries; ++i) {
        ASSERT_EQ(le32(zip, cd), 0x02014b50u);
        const quint32 crc = le32(zip, cd + 16), csize = le32(zip, cd + 20), usize = le32(zip, cd + 24);
        const int nameLen = le16(zip, cd + 28);
        const qsizetype local = le32(zip, cd + 42);
        names << QString::fromUtf8(zip.mid(cd + 46, nameLen));
        ASSERT_EQ(le32(zip, local), 0x04034b50u);
        EXPECT_EQ(le16(zip, local + 6), 6);  // flags
        EXPECT_EQ(le16(zip, local + 8), 8);  // deflate
        const QByteArray data = inflateStored(zip.mid(local + 30 + le16(zip, local + 26), csize));
        EXPECT_EQ(quint32(data.size()), usize);
        EXPECT_EQ(crc32(data), crc);
        cd += 46 + nameLen;
    }
    EXPECT_EQ(names, QStringList({QStringLiteral("[Content_Types].xml"), QStringLiteral("_rels/.rels"),
                                  QStringLiteral("word/document.xml")}));
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);  // the standard check value
}

TEST_F(DemoDocuments, TransferVariants)
{
    startService();
    const QByteArray plain = getBody("/doc/v-3.pdf");

    auto chunked = client->Get("/doc/chunked/v-3.pdf");
    ASSERT_TRUE(chunked);
    EXPECT_FALSE(chunked->has_header("Content-Length"));
    EXPECT_EQ(chunked->get_header_value("Transfer-Encoding"), "chunked");
    EXPECT_EQ(QByteArray::fromStdString(chunked->body), plain);

    struct Case {
        const char* path;
        const char* contentType;
        QByteArray head;
    };
    const Case cases[] = {
        {"/doc/charset/v-3.pdf", "application/pdf; charset=utf-8", "%PDF"},
        {"/doc/charset/v-3.pdf?charset=GBK", "application/pdf; charset=GBK", "%PDF"},
        {"/doc/wrongtype/v-3.pdf", "text/html", "%PDF"},
        {"/doc/wrongtype/v-3.doc?ct=application/octet-stream", "application/octet-stream",
         QByteArray::fromHex("D0CF11E0")},
        {"/doc/v-3.doc?as=pdf", "application/pdf", "%PDF"},
        {"/view/v-3.html", "text/html; charset=utf-8", "<!DOCTYPE html>"},
        {"/view?id=v-3", "text/html; charset=utf-8", "<!DOCTYPE html>"},
    };
    for (const Case& c : cases) {
        auto res = client->Get(c.path);
        ASSERT_TRUE(res) << c.path;
        EXPECT_EQ(res->status, 200) << c.path;
        EXPECT_EQ(res->get_header_value("Content-Type"), c.contentType) << c.path;
        EXPECT_TRUE(QByteArray::fromStdString(res->body).startsWith(c.head)) << c.path;
        EXPECT_TRUE(res->has_header("Content-Length")) << c.path;
    }
}

TEST_F(DemoDocuments, ProtectedDocumentNeedsTheLoginCookie)
{
    startService();
    const char* doc = "/doc/protected/p-1.pdf";
    auto isLoginPage = [](const QByteArray& body) {
        return body.contains("<html ") && body.contains("<title>") && body.contains("name=\"UserName\"");
    };
    EXPECT_TRUE(isLoginPage(getBody(doc)));

    auto login = [&](const std::string& path, const std::string& form) -> std::string {
        auto res = form.empty() ? client->Get(path.c_str())
                                : client->Post(path.c_str(), form, "application/x-www-form-urlencoded");
        EXPECT_TRUE(res) << path;
        if (!res || !res->has_header("Set-Cookie"))
            return {};
        std::string c = res->get_header_value("Set-Cookie");
        return c.substr(0, c.find(';'));
    };
    auto withCookie = [&](const std::string& cookie) {
        auto res = client->Get(doc, {{"Cookie", cookie}});
        return res ? QByteArray::fromStdString(res->body) : QByteArray();
    };

    // Empty account or password: no cookie.
    EXPECT_TRUE(login("/login/submit", "UserName=u&PassWord=").empty());
    EXPECT_TRUE(login("/login/submit?username=&password=x", "").empty());

    const struct {
        const char* path;
        const char* form;
    } ways[] = {
        {"/login/submit", "from=%2Fdoc&UserName=demo&PassWord=secret&remember=1"},
        {"/login/submit?username=demo&password=secret", ""},  // the GET form of the submit-first page
        {"/login/submit", "email=a%40b.c&pwd=secret"},
        {"/login/ipsubmit", "x=1"},
    };
    for (const auto& w : ways) {
        const std::string cookie = login(w.path, w.form);
        ASSERT_EQ(cookie.rfind("DH_LOGIN=", 0), 0u) << w.path;
        EXPECT_TRUE(withCookie(cookie).startsWith("%PDF")) << w.path;
        // Logging out revokes exactly that cookie.
        auto out = client->Get("/logout", {{"Cookie", cookie}});
        ASSERT_TRUE(out);
        EXPECT_TRUE(isLoginPage(withCookie(cookie))) << w.path;
    }
    EXPECT_TRUE(isLoginPage(withCookie("DH_LOGIN=0000000000000000")));
    EXPECT_TRUE(isLoginPage(withCookie("other=1; DH_LOGIN=")));
}

TEST_F(DemoDocuments, LoginPagesOfferWhatTheFormFillerLooksFor)
{
    startService();
    auto indexOf = [](const QList<Input>& inputs, auto pred) {
        for (int i = 0; i < inputs.size(); ++i)
            if (pred(inputs[i]))
                return i;
        return -1;
    };
    auto named = [](const char* n) {
        return [n](const Input& in) { return in.name.toLower() == QLatin1String(n); };
    };
    auto submit = [](const Input& in) { return in.type.toLower() == QStringLiteral("submit"); };
    auto submitip = [](const Input& in) { return in.id == QStringLiteral("submitip"); };

    const QList<Input> main = viewPage(getBody("/login")).inputs;
    const int user = indexOf(main, named("username")), pass = indexOf(main, named("password"));
    ASSERT_GE(user, 0);
    ASSERT_GT(pass, user);
    const int firstSubmit = indexOf(main, submit);
    EXPECT_GT(firstSubmit, pass);
    EXPECT_NE(main[firstSubmit].id, QStringLiteral("submitip"));  // the account form's own button
    EXPECT_GT(indexOf(main, submitip), firstSubmit);
    EXPECT_EQ(main[user].name, QStringLiteral("UserName"));
    EXPECT_EQ(main[pass].name, QStringLiteral("PassWord"));

    const QList<Input> first = viewPage(getBody("/login/submit-first")).inputs;
    EXPECT_EQ(indexOf(first, submit), 0);
    EXPECT_GT(indexOf(first, named("username")), 0);
    EXPECT_GT(indexOf(first, named("password")), 0);

    const QList<Input> email = viewPage(getBody("/login/email")).inputs;
    EXPECT_GE(indexOf(email, named("email")), 0);
    EXPECT_GE(indexOf(email, named("pwd")), 0);
    for (const char* n : {"userid", "user", "username", "useruid", "pass", "password", "passwd"})
        EXPECT_EQ(indexOf(email, named(n)), -1) << n;

    const QList<Input> ip = viewPage(getBody("/login/ip")).inputs;
    EXPECT_GE(indexOf(ip, submitip), 0);
    EXPECT_EQ(indexOf(ip, named("username")), -1);
}
