// Documents behind the result links, and the login pages that guard the
// protected ones. The route list is at the top of DemoSearch.cpp.

#include "demo/DemoDocuments.h"
#include "demo/DemoService.h"
#include "demo/DemoUtil.h"

#include <httplib.h>

#include <QHash>
#include <QStringList>

#include <chrono>
#include <cstdio>

#include <array>
#include <set>

namespace dh::demo {

namespace {

void put16(QByteArray& b, qsizetype at, quint16 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char(v >> 8);
}

void put32(QByteArray& b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

void append16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xff));
    b.append(char(v >> 8));
}

void append32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

// Text that fits into a PDF string or an ASCII-only file.
QByteArray asciiOnly(const QString& text)
{
    QByteArray out;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u < 0x7f && u != '(' && u != ')' && u != '\\')
            out.append(char(u));
    }
    return out;
}

} // namespace

quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xffffffffu;
    for (char ch : data)
        crc = table[(crc ^ quint8(ch)) & 0xff] ^ (crc >> 8);
    return crc ^ 0xffffffffu;
}

QByteArray makePdf(const QString& text)
{
    const QByteArray line = asciiOnly(text);
    const QByteArray stream = "BT /F1 18 Tf 72 770 Td (DocHarvest demo document) Tj 0 -28 Td /F1 12 Tf (" + line
                              + ") Tj ET\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(stream.size()) + " >>\nstream\n" + stream + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype off : offsets)
        pdf += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
           + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray makeOleDocument(const QString& type, const QString& text)
{
    constexpr quint32 kSector = 512;
    constexpr quint32 kFree = 0xffffffffu, kEnd = 0xfffffffeu, kFatSect = 0xfffffffdu, kNoStream = 0xffffffffu;

    QString streamName;
    QByteArray data;
    if (type == QLatin1String("doc")) {
        streamName = QStringLiteral("WordDocument");
        data = QByteArray::fromHex("ECA5C100");  // FIB: wIdent 0xA5EC, nFib 0x00C1
    } else if (type == QLatin1String("xls")) {
        streamName = QStringLiteral("Workbook");
        // BIFF8 BOF record (type 0x0809, 16 bytes: BIFF8, workbook globals), then EOF.
        data = QByteArray::fromHex("09081000" "00060500" "AA1FCD07" "C1000000" "06010000" "0A000000");
    } else if (type == QLatin1String("ppt")) {
        streamName = QStringLiteral("PowerPoint Document");
        data = QByteArray::fromHex("0F0000F0");  // container record header, record type 0xF000
    } else {
        return {};
    }
    // The text as UTF-16LE after the marker, so the file carries something readable.
    const QString body = QStringLiteral("DocHarvest demo ") + type + QLatin1Char(' ') + text;
    for (QChar c : body)
        append16(data, c.unicode());
    // At least 4096 bytes, so the stream lives in regular sectors (not the mini
    // stream) and its first sector is the one right after the header.
    const quint32 streamSize = quint32(std::max<qsizetype>(data.size(), 4096));
    data.resize(streamSize, '\0');
    const quint32 streamSectors = (streamSize + kSector - 1) / kSector;
    data.resize(qsizetype(streamSectors * kSector), '\0');
    const quint32 dirSector = streamSectors;
    const quint32 fatSector = streamSectors + 1;

    QByteArray header(kSector, '\0');
    header.replace(0, 8, QByteArray::fromHex("D0CF11E0A1B11AE1"));
    put16(header, 24, 0x003E);  // minor version
    put16(header, 26, 0x0003);  // major version 3: 512-byte sectors
    put16(header, 28, 0xFFFE);  // little-endian
    put16(header, 30, 9);       // sector shift
    put16(header, 32, 6);       // mini sector shift
    put32(header, 44, 1);       // FAT sectors
    put32(header, 48, dirSector);
    put32(header, 56, 4096);    // mini stream cutoff
    put32(header, 60, kEnd);    // no mini FAT
    put32(header, 64, 0);
    put32(header, 68, kEnd);    // no DIFAT sectors
    put32(header, 72, 0);
    put32(header, 76, fatSector);
    for (int i = 1; i < 109; ++i)
        put32(header, 76 + 4 * i, kFree);

    auto dirEntry = [&](const QString& name, quint8 objType, quint32 child, quint32 start, quint32 size) {
        QByteArray e(128, '\0');
        for (int i = 0; i < name.size() && i < 31; ++i)
            put16(e, 2 * i, name.at(i).unicode());
        put16(e, 64, quint16(name.isEmpty() ? 0 : 2 * (name.size() + 1)));
        e[66] = char(objType);
        e[67] = char(objType ? 1 : 0);  // black
        put32(e, 68, kNoStream);
        put32(e, 72, kNoStream);
        put32(e, 76, child);
        put32(e, 116, start);
        put32(e, 120, size);
        return e;
    };
    QByteArray dir;
    dir += dirEntry(QStringLiteral("Root Entry"), 5, 1, kEnd, 0);
    dir += dirEntry(streamName, 2, kNoStream, 0, streamSize);
    dir += dirEntry(QString(), 0, kNoStream, 0, 0);
    dir += dirEntry(QString(), 0, kNoStream, 0, 0);

    QByteArray fat(kSector, '\xff');
    for (quint32 s = 0; s < streamSectors; ++s)
        put32(fat, 4 * s, s + 1 < streamSectors ? s + 1 : kEnd);
    put32(fat, 4 * dirSector, kEnd);
    put32(fat, 4 * fatSector, kFatSect);

    return header + data + dir + fat;
}

QByteArray makeDocx(const QString& text)
{
    QString escaped = text.toHtmlEscaped();
    const QList<QPair<QByteArray, QByteArray>> files = {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/word/document.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
         "</Types>"},
        {"_rels/.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" "
         "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
         "Target=\"word/document.xml\"/></Relationships>"},
        {"word/document.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
         "<w:body><w:p><w:r><w:t>DocHarvest demo document "
             + escaped.toUtf8() + "</w:t></w:r></w:p></w:body></w:document>"},
    };
    constexpr quint16 kVersion = 20, kFlags = 6, kDeflate = 8;
    constexpr quint16 kTime = 0, kDate = ((2024 - 1980) << 9) | (1 << 5) | 1;

    // Deflate with stored blocks only: valid for every inflater, no zlib needed.
    auto deflateStored = [](const QByteArray& in) {
        QByteArray out;
        qsizetype pos = 0;
        do {
            const qsizetype n = std::min<qsizetype>(in.size() - pos, 65535);
            const bool last = pos + n >= in.size();
            out.append(char(last ? 1 : 0));
            append16(out, quint16(n));
            append16(out, quint16(~quint16(n)));
            out.append(in.mid(pos, n));
            pos += n;
        } while (pos < in.size());
        return out;
    };

    QByteArray zip, central;
    for (const auto& [name, content] : files) {
        const QByteArray packed = deflateStored(content);
        const quint32 crc = crc32(content);
        const quint32 offset = quint32(zip.size());
        append32(zip, 0x04034b50);
        append16(zip, kVersion);
        append16(zip, kFlags);
        append16(zip, kDeflate);
        append16(zip, kTime);
        append16(zip, kDate);
        append32(zip, crc);
        append32(zip, quint32(packed.size()));
        append32(zip, quint32(content.size()));
        append16(zip, quint16(name.size()));
        append16(zip, 0);
        zip += name + packed;

        append32(central, 0x02014b50);
        append16(central, kVersion);
        append16(central, kVersion);
        append16(central, kFlags);
        append16(central, kDeflate);
        append16(central, kTime);
        append16(central, kDate);
        append32(central, crc);
        append32(central, quint32(packed.size()));
        append32(central, quint32(content.size()));
        append16(central, quint16(name.size()));
        append16(central, 0);  // extra
        append16(central, 0);  // comment
        append16(central, 0);  // disk
        append16(central, 0);  // internal attributes
        append32(central, 0);  // external attributes
        append32(central, offset);
        central += name;
    }
    const quint32 centralOffset = quint32(zip.size());
    zip += central;
    append32(zip, 0x06054b50);
    append16(zip, 0);
    append16(zip, 0);
    append16(zip, quint16(files.size()));
    append16(zip, quint16(files.size()));
    append32(zip, quint32(central.size()));
    append32(zip, centralOffset);
    append16(zip, 0);
    return zip;
}

QByteArray makeDocument(const QString& typeIn, const QString& name)
{
    const QString type = typeIn.toLower();
    if (type == QLatin1String("pdf"))
        return makePdf(name);
    if (type == QLatin1String("doc") || type == QLatin1String("xls") || type == QLatin1String("ppt"))
        return makeOleDocument(type, name);
    if (type == QLatin1String("docx"))
        return makeDocx(name);
    const QByteArray ascii = asciiOnly(name);
    auto binary = [&](const QByteArray& magic) {
        QByteArray b = magic + "DocHarvest demo " + type.toLatin1() + " " + ascii + "\n";
        b.resize(std::max<qsizetype>(b.size(), 2048), '\0');
        return b;
    };
    if (type == QLatin1String("caj"))
        return binary(QByteArray("\xc8\x00\x00\x00", 4));
    if (type == QLatin1String("kdh"))
        return binary(QByteArray("KDH ", 4));
    if (type == QLatin1String("nh"))
        return binary(QByteArray("HN\x00\x00", 4));
    if (type == QLatin1String("caa")) {
        // A small descriptor in key-and-section form, well under 3 KB.
        return "[TARGET]\r\nA1=DocHarvest demo\r\nA2=" + ascii + "\r\nB1=127.0.0.1\r\nB2=80\r\nC1=/doc/" + ascii
               + ".caj\r\nC2=0\r\nD1=demo\r\nD2=demo\r\nDOCTYPE=caj\r\n";
    }
    if (type == QLatin1String("txt"))
        return (QStringLiteral("DocHarvest 演示文本\r\n") + name + QStringLiteral("\r\n")).toUtf8();
    if (type == QLatin1String("htm") || type == QLatin1String("html")) {
        return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head><meta charset=\"utf-8\"><title>")
                + name.toHtmlEscaped() + QStringLiteral("</title></head>\n<body><p>在线阅读：") + name.toHtmlEscaped()
                + QStringLiteral("</p></body>\n</html>\n"))
            .toUtf8();
    }
    return {};
}

QString contentTypeFor(const QString& typeIn)
{
    const QString type = typeIn.toLower();
    static const QHash<QString, QString> types = {
        {QStringLiteral("pdf"), QStringLiteral("application/pdf")},
        {QStringLiteral("doc"), QStringLiteral("application/msword")},
        {QStringLiteral("xls"), QStringLiteral("application/vnd.ms-excel")},
        {QStringLiteral("ppt"), QStringLiteral("application/vnd.ms-powerpoint")},
        {QStringLiteral("docx"),
         QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document")},
        {QStringLiteral("caj"), QStringLiteral("application/caj")},
        {QStringLiteral("kdh"), QStringLiteral("application/kdh")},
        {QStringLiteral("nh"), QStringLiteral("application/nh")},
        {QStringLiteral("caa"), QStringLiteral("application/caa")},
        {QStringLiteral("txt"), QStringLiteral("text/plain")},
        {QStringLiteral("htm"), QStringLiteral("text/html")},
        {QStringLiteral("html"), QStringLiteral("text/html")},
    };
    return types.value(type, QStringLiteral("application/octet-stream"));
}

namespace {

const char* const kLoginCookie = "DH_LOGIN";

struct DocumentsState {
    std::set<std::string> tokens;  // issued login cookies
    quint64 issued = 0;
};

QString pageStart(const QString& title)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>%1</title>\n"
                          "</head>\n<body>\n")
        .arg(title.toHtmlEscaped());
}

const QString kPageEnd = QStringLiteral("</body>\n</html>\n");

enum class LoginVariant { Main, SubmitFirst, EmailOnly, IpOnly };

QString loginPage(LoginVariant variant, const QString& from, const QString& note = {})
{
    QString html = pageStart(QStringLiteral("用户登录 - 演示文档站"));
    html += QStringLiteral("<h1>用户登录</h1>\n");
    if (!note.isEmpty())
        html += QStringLiteral("<p class=\"note\">%1</p>\n").arg(note.toHtmlEscaped());
    if (!from.isEmpty())
        html += QStringLiteral("<p class=\"note\">下载该文档需要先登录。</p>\n");
    const QString fromInput =
        QStringLiteral("<input type=\"hidden\" name=\"from\" value=\"%1\">\n").arg(from.toHtmlEscaped());
    switch (variant) {
    case LoginVariant::Main:
        html += QStringLiteral("<form id=\"login-form\" action=\"/login/submit\" method=\"post\">\n") + fromInput
                + QStringLiteral(
                    "帐号：<input type=\"text\" name=\"UserName\" value=\"\"><br>\n"
                    "密码：<input type=\"password\" name=\"PassWord\" value=\"\"><br>\n"
                    "<input type=\"checkbox\" name=\"remember\" value=\"1\"> 记住我<br>\n"
                    "<input type=\"submit\" id=\"login-submit\" value=\"登录\">\n</form>\n"
                    "<form id=\"ip-form\" action=\"/login/ipsubmit\" method=\"post\">\n"
                    "<input type=\"submit\" id=\"submitip\" value=\"IP登录\">\n</form>\n");
        break;
    case LoginVariant::SubmitFirst:
        html += QStringLiteral("<form id=\"login-form\" action=\"/login/submit\" method=\"get\">\n")
                + QStringLiteral("<input type=\"submit\" id=\"login-submit\" value=\"登录\"><br>\n") + fromInput
                + QStringLiteral(
                    "帐号：<input type=\"text\" name=\"username\" value=\"\"><br>\n"
                    "密码：<input type=\"password\" name=\"password\" value=\"\">\n</form>\n");
        break;
    case LoginVariant::EmailOnly:
        html += QStringLiteral("<form id=\"login-form\" action=\"/login/submit\" method=\"post\">\n") + fromInput
                + QStringLiteral(
                    "邮箱：<input type=\"text\" name=\"email\" value=\"\"><br>\n"
                    "密码：<input type=\"password\" name=\"pwd\" value=\"\"><br>\n"
                    "<input type=\"submit\" id=\"login-submit\" value=\"登录\">\n</form>\n");
        break;
    case LoginVariant::IpOnly:
        html += QStringLiteral(
            "<p>本站支持按网络地址登录。</p>\n"
            "<form id=\"ip-form\" action=\"/login/ipsubmit\" method=\"post\">\n"
            "<input type=\"submit\" id=\"submitip\" value=\"IP登录\">\n</form>\n");
        break;
    }
    html += QStringLiteral(
        "<p><a id=\"help-link\" href=\"/login/help\" target=\"_blank\">登录帮助</a> "
        "<a id=\"open-link\" href=\"#\" onclick=\"window.open('/login/help'); return false;\">在新窗口打开帮助</a></p>\n");
    return html + kPageEnd;
}

QString loggedInPage(const QString& how, const QString& from)
{
    QString html = pageStart(QStringLiteral("登录成功 - 演示文档站"));
    html += QStringLiteral("<h1 id=\"login-ok\">%1成功</h1>\n").arg(how.toHtmlEscaped());
    if (from.startsWith(QLatin1Char('/')))
        html += QStringLiteral("<p><a id=\"continue\" href=\"%1\">继续下载</a></p>\n").arg(from.toHtmlEscaped());
    return html + kPageEnd;
}

std::string newToken(DemoState& state, DocumentsState& docs)
{
    std::lock_guard lock(state.mutex);
    ++docs.issued;
    const std::string seed = "login-" + std::to_string(docs.issued) + "-"
                             + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(util::stableHash(seed)));
    docs.tokens.insert(buf);
    return buf;
}

bool loggedIn(const httplib::Request& req, DemoState& state, DocumentsState& docs)
{
    const std::string token = util::cookieValue(req, kLoginCookie);
    if (token.empty())
        return false;
    std::lock_guard lock(state.mutex);
    return docs.tokens.count(token) > 0;
}

void setLoginCookie(httplib::Response& res, const std::string& token)
{
    res.set_header("Set-Cookie", std::string(kLoginCookie) + "=" + token + "; Path=/; HttpOnly");
}

// The file part of a document path, reduced to harmless characters.
QString safeName(const std::string& raw)
{
    QString out;
    for (QChar c : QString::fromUtf8(util::percentDecode(raw, false))) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.'))
            out.append(c);
    }
    return out.left(120);
}

} // namespace

void registerDocumentRoutes(httplib::Server& server, DemoState& state)
{
    state.documents = std::make_shared<DocumentsState>();
    auto* docs = static_cast<DocumentsState*>(state.documents.get());
    DemoState* ds = &state;

    // /doc/[variant/]<name>.<ext>; the raw target keeps the client's spelling.
    server.Get(R"(/doc/(?:(chunked|charset|wrongtype|protected)/)?([^/]+))",
               [ds, docs](const httplib::Request& req, httplib::Response& res) {
        const std::string variant = req.matches[1].str();
        const QString file = safeName(req.matches[2].str());
        const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot > 0 ? file.mid(dot + 1).toLower() : QString();
        const QString stem = dot > 0 ? file.left(dot) : file;
        const std::string as = util::formValue(req, "as");
        const QString served = as.empty() ? ext : QString::fromStdString(as).toLower();
        QByteArray body = makeDocument(served, stem);
        if (body.isEmpty()) {
            res.status = 404;
            res.set_content("not found\n", "text/plain");
            return;
        }
        if (variant == "protected" && !loggedIn(req, *ds, *docs)) {
            // Like a real document site: a login page in place of the file, status 200.
            util::sendHtml(res, loginPage(LoginVariant::Main, QString::fromStdString(req.path)));
            return;
        }
        std::string type = contentTypeFor(served).toStdString();
        if (type.rfind("text/", 0) == 0)
            type += "; charset=utf-8";
        const std::string ct = util::formValue(req, "ct");
        if (variant == "wrongtype")
            type = ct.empty() ? "text/html" : ct;
        else if (!ct.empty())
            type = ct;
        if (variant == "charset") {
            const std::string charset = util::formValue(req, "charset");
            type = contentTypeFor(served).toStdString() + "; charset=" + (charset.empty() ? "utf-8" : charset);
        }
        if (variant == "chunked") {
            auto data = std::make_shared<QByteArray>(std::move(body));
            res.set_chunked_content_provider(type, [data](size_t offset, httplib::DataSink& sink) {
                if (offset >= size_t(data->size())) {
                    sink.done();
                    return true;
                }
                const size_t n = std::min<size_t>(1024, size_t(data->size()) - offset);
                return sink.write(data->constData() + offset, n);
            });
            return;
        }
        res.set_content(body.constData(), size_t(body.size()), type.c_str());
    });

    // Pages behind result links that have no document type.
    auto view = [](const httplib::Request& req, httplib::Response& res) {
        const QString id = req.matches.size() > 1 ? safeName(req.matches[1].str())
                                                   : safeName(util::formValue(req, "id"));
        const QByteArray body = makeDocument(QStringLiteral("html"), id);
        res.set_content(body.constData(), size_t(body.size()), "text/html; charset=utf-8");
    };
    server.Get(R"(/view/([^/]+))", view);
    server.Get("/view", view);

    server.Get("/login", [](const httplib::Request& req, httplib::Response& res) {
        util::sendHtml(res, loginPage(LoginVariant::Main, QString::fromStdString(util::formValue(req, "from"))));
    });
    server.Get("/login/submit-first", [](const httplib::Request&, httplib::Response& res) {
        util::sendHtml(res, loginPage(LoginVariant::SubmitFirst, {}));
    });
    server.Get("/login/email", [](const httplib::Request&, httplib::Response& res) {
        util::sendHtml(res, loginPage(LoginVariant::EmailOnly, {}));
    });
    server.Get("/login/ip", [](const httplib::Request&, httplib::Response& res) {
        util::sendHtml(res, loginPage(LoginVariant::IpOnly, {}));
    });
    server.Get("/login/help", [](const httplib::Request&, httplib::Response& res) {
        util::sendHtml(res, pageStart(QStringLiteral("登录帮助 - 演示文档站"))
                                + QStringLiteral("<p id=\"help\">输入任意非空的帐号和密码即可登录。</p>\n") + kPageEnd);
    });

    auto submit = [ds, docs](const httplib::Request& req, httplib::Response& res) {
        // Field names as the three login forms spell them, in any letter case.
        auto field = [&](std::initializer_list<const char*> names) {
            for (auto& [k, v] : util::splitRawQuery(util::rawQuery(req) + "&" + (req.method == "POST" ? req.body : ""))) {
                const QString key = QString::fromUtf8(util::percentDecode(k, true)).toLower();
                for (const char* n : names) {
                    if (key == QLatin1String(n)) {
                        const QString value = QString::fromUtf8(util::percentDecode(v, true)).trimmed();
                        if (!value.isEmpty())
                            return value;
                    }
                }
            }
            return QString();
        };
        const QString user = field({"username", "userid", "user", "email"});
        const QString pass = field({"password", "passwd", "pass", "pwd"});
        const QString from = field({"from"});
        if (user.isEmpty() || pass.isEmpty()) {
            util::sendHtml(res, loginPage(LoginVariant::Main, from, QStringLiteral("请输入帐号和密码。")));
            return;
        }
        setLoginCookie(res, newToken(*ds, *docs));
        util::sendHtml(res, loggedInPage(QStringLiteral("登录"), from));
    };
    server.Get("/login/submit", submit);
    server.Post("/login/submit", submit);

    auto ipSubmit = [ds, docs](const httplib::Request&, httplib::Response& res) {
        setLoginCookie(res, newToken(*ds, *docs));
        util::sendHtml(res, loggedInPage(QStringLiteral("IP登录"), {}));
    };
    server.Get("/login/ipsubmit", ipSubmit);
    server.Post("/login/ipsubmit", ipSubmit);

    server.Get("/logout", [ds, docs](const httplib::Request& req, httplib::Response& res) {
        const std::string token = util::cookieValue(req, kLoginCookie);
        {
            std::lock_guard lock(ds->mutex);
            docs->tokens.erase(token);
        }
        res.set_header("Set-Cookie", std::string(kLoginCookie) + "=; Path=/; Max-Age=0");
        util::sendHtml(res, pageStart(QStringLiteral("已退出")) + QStringLiteral("<p>已退出登录。</p>\n") + kPageEnd);
    });
}

} // namespace dh::demo
