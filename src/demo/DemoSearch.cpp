// Demo service routes (all on one 127.0.0.1 port; see also src/demo/README.md)
//
// Search (this file)
//   GET  /                      302 to /p?w=1
//   GET  /p?w=1                 home page: a search form (input "w", GET /p)
//   GET  /p                     same home page
//   GET  /p?w=<kw>+filetype%3A<type>[&pn=N]
//                               result page N (1-based) of the query. <kw> is percent-encoded
//                               UTF-8, may be wrapped in %22 quotes and may contain spaces
//                               ('+' or %20); %2B is a literal '+'. Without filetype the links
//                               cycle through pdf/doc/ppt/xls. Results: <h3><a> inside the first
//                               element of class "content-net-left" (a decoy of class
//                               "content-net-left-ad" comes before it, decoy headings after it
//                               and a second "content-net-left" at the end). Pager: links of
//                               class "next" with texts "<上一页", page numbers, "下一页>"; the
//                               last page has no "下一页>". Pages per query: 3-6 from a hash of
//                               the query (DemoOptions::pagesPerQuery overrides), ten results
//                               a page (DemoOptions::resultsPerPage). Slot layout: DemoSearch.h.
//                               Asking for more than rateLimitPages result pages within
//                               rateLimitWindowSeconds (all clients together) turns every
//                               result page into the verification page (marker
//                               "请输入以下验证码，即可恢复使用。", code in <span id="verify-code">)
//                               until the code is sent back or captchaTimeoutSeconds pass.
//   GET/POST /verify?code=C&back=<path>
//                               answers the verification page; right code: 302 to back
//                               (a /p? path) and the limit starts afresh; wrong code: the
//                               verification page again.
//
// Documents and login (DemoDocuments.cpp)
//   GET  /doc/<name>.<ext>                 generated document with Content-Length
//   GET  /doc/chunked/<name>.<ext>         same bytes, chunked transfer (no Content-Length)
//   GET  /doc/charset/<name>.<ext>         Content-Type "<type>; charset=utf-8" (?charset=X)
//   GET  /doc/wrongtype/<name>.<ext>       Content-Type "text/html" (?ct=X chooses another)
//   GET  /doc/protected/<name>.<ext>       the login page (HTML, 200) unless cookie DH_LOGIN
//                                          holds a token issued by a login
//        <ext>: pdf, doc, xls, ppt (OLE compound files), docx (ZIP), caj, kdh, nh (binary
//        signatures), caa (descriptor text), txt, htm/html (a small page); case-insensitive.
//        Any route takes ?as=<ext> to serve another type's bytes behind the same link.
//   GET  /view/<name>.html, /view?id=<id>  an HTML page (result links with no document type)
//   GET  /login                 "UserName"/"PassWord" inputs, then submit (POST), then a
//                               second form with the IP-login button id="submitip"
//   GET  /login/submit-first    submit button before the inputs (GET form)
//   GET  /login/email           only "email"/"pwd" inputs
//   GET  /login/ip              only the IP-login button id="submitip"
//   GET/POST /login/submit      account login: non-empty UserName+PassWord (or email+pwd)
//                               sets cookie DH_LOGIN; empty fields give the form again
//   GET/POST /login/ipsubmit    IP login: sets cookie DH_LOGIN
//   GET  /logout                clears the cookie
//
// Browser test pages (DemoPages.cpp)
//   GET  /gbk                   GBK page, charset only in the HTTP header
//   GET  /gbk-meta              GBK page, charset only in <meta charset>
//   GET  /gbk-meta-equiv        GBK page, charset only in <meta http-equiv="Content-Type">
//   GET  /popup                 links with target=_blank and window.open(), an alert() link,
//                               a window.close() link
//   GET  /alert                 page that calls alert() while loading
//
// Update (DemoUpdate.cpp)
//   GET  /DocHarvest/newver.txt DemoOptions::versionText as text/plain (program name matched
//                               case-insensitively)
//
// Transfer test endpoints: see DemoTransfer.cpp.

#include "demo/DemoSearch.h"
#include "demo/DemoService.h"
#include "demo/DemoUtil.h"

#include <httplib.h>

#include <QStringList>

#include <chrono>
#include <deque>

namespace dh::demo {

namespace {

using Clock = std::chrono::steady_clock;

struct SearchState {
    std::deque<Clock::time_point> recent;  // times of recent result pages
    bool captchaActive = false;
    Clock::time_point captchaSince;
    QString captchaCode;
    int captchaCount = 0;
};

const QStringList kKnownTypes = {QStringLiteral("pdf"), QStringLiteral("doc"), QStringLiteral("ppt"),
                                 QStringLiteral("xls"), QStringLiteral("txt"), QStringLiteral("docx"),
                                 QStringLiteral("caj"), QStringLiteral("kdh"), QStringLiteral("nh"),
                                 QStringLiteral("caa")};

QString hex8(std::uint64_t h)
{
    return QStringLiteral("%1").arg(quint32(h & 0xffffffffu), 8, 16, QLatin1Char('0'));
}

QString queryKey(const SearchQuery& q)
{
    return (q.quoted ? QStringLiteral("\"") + q.keywords + QStringLiteral("\"") : q.keywords)
           + QStringLiteral("|") + q.type;
}

std::uint64_t queryHash(const SearchQuery& q)
{
    const QByteArray key = queryKey(q).toUtf8();
    return util::stableHash(std::string_view(key.constData(), std::size_t(key.size())));
}

} // namespace

SearchQuery parseSearchQuery(const std::string& rawQuery)
{
    SearchQuery q;
    bool found = false;
    q.rawW = util::rawParam(rawQuery, "w", &found);
    bool pnFound = false;
    const std::string pn = util::rawParam(rawQuery, "pn", &pnFound);
    if (pnFound) {
        bool ok = false;
        const int n = QString::fromStdString(pn).toInt(&ok);
        q.page = ok && n >= 1 ? n : 1;
    }
    if (!found || q.rawW == "1")
        return q;
    q.home = false;

    const QString decoded = QString::fromUtf8(util::percentDecode(q.rawW, true));
    // The last "filetype:" that starts a word separates keywords from the type.
    qsizetype at = -1;
    for (qsizetype from = decoded.size(); from >= 0;) {
        const qsizetype i = decoded.lastIndexOf(QStringLiteral("filetype:"), from, Qt::CaseInsensitive);
        if (i < 0)
            break;
        if (i == 0 || decoded.at(i - 1).isSpace()) {
            at = i;
            break;
        }
        from = i - 1;
        if (from < 0)
            break;
    }
    QString keywords = decoded;
    if (at >= 0) {
        keywords = decoded.left(at);
        QString type = decoded.mid(at + 9).trimmed().toLower();
        const qsizetype space = type.indexOf(QLatin1Char(' '));
        if (space >= 0)
            type.truncate(space);
        q.type = type;
    }
    keywords = keywords.trimmed();
    if (keywords.size() >= 2 && keywords.startsWith(QLatin1Char('"')) && keywords.endsWith(QLatin1Char('"'))) {
        q.quoted = true;
        keywords = keywords.mid(1, keywords.size() - 2).trimmed();
    }
    q.keywords = keywords;
    return q;
}

std::string composeW(const QString& keywords, const QString& type, bool quoted)
{
    const QByteArray enc = keywords.toUtf8().toPercentEncoding();
    std::string w = quoted ? "%22" + enc.toStdString() + "%22" : enc.toStdString();
    if (!type.isEmpty())
        w += "+filetype%3A" + type.toStdString();
    return w;
}

int pageCount(const SearchQuery& query, const DemoOptions& options)
{
    if (options.pagesPerQuery > 0)
        return options.pagesPerQuery;
    return 3 + int(queryHash(query) % 4);
}

QList<DemoResult> resultsFor(const SearchQuery& query, const QString& base, const DemoOptions& options)
{
    QList<DemoResult> out;
    if (query.home || query.keywords.isEmpty())
        return out;
    const int pages = pageCount(query, options);
    if (query.page > pages)
        return out;
    const int perPage = std::max(1, options.resultsPerPage);
    const QString id = hex8(queryHash(query));
    const QString kw = query.keywords;
    const QString kwHtml = kw.toHtmlEscaped();
    static const QStringList cycle = {QStringLiteral("pdf"), QStringLiteral("doc"), QStringLiteral("ppt"),
                                      QStringLiteral("xls")};
    const bool typed = kKnownTypes.contains(query.type);
    const int p = query.page;

    auto docPath = [&](int n, const QString& t, const QString& variant) {
        return QStringLiteral("/doc/") + (variant.isEmpty() ? QString() : variant + QLatin1Char('/')) + id
               + QLatin1Char('-') + QString::number(n) + QLatin1Char('.') + t;
    };
    auto link = [](const QString& href, const QString& innerHtml) {
        return QStringLiteral("<a href=\"%1\" target=\"_blank\">%2</a>").arg(href.toHtmlEscaped(), innerHtml);
    };

    for (int i = 0; i < perPage; ++i) {
        const int g = (p - 1) * perPage + i;  // index over the whole query
        const int n = g + 1;
        const QString t = typed ? query.type : cycle.at(g % cycle.size());
        const QString N = QString::number(n);
        DemoResult r;
        r.slot = ResultSlot(i % 10);
        r.linkType = t;
        switch (r.slot) {
        case ResultSlot::Plain:
            r.href = base + docPath(n, t, {});
            r.titleText = kw + QStringLiteral(" 入门教程 第") + N + QStringLiteral("篇");
            r.headingHtml = link(r.href, kwHtml + QStringLiteral(" 入门教程 第") + N + QStringLiteral("篇"));
            break;
        case ResultSlot::TypePrefix:
            r.href = docPath(n, t, {});
            r.titleText = QStringLiteral("【") + t.toUpper() + QStringLiteral("】") + kw + QStringLiteral(" 使用手册 ") + N;
            r.headingHtml = link(r.href, r.titleText.toHtmlEscaped());
            break;
        case ResultSlot::Ellipsis:
            r.href = base + docPath(n, t, QStringLiteral("chunked"));
            r.titleText = kw + QStringLiteral(" 的原理&应用... 第") + N + QStringLiteral("部分");
            r.headingHtml = link(r.href, kwHtml + QStringLiteral(" 的原理&amp;应用... 第") + N + QStringLiteral("部分"));
            break;
        case ResultSlot::BaiduSuffix:
            r.href = docPath(n, t, {});
            r.titleText = kw + QStringLiteral(" 练习题") + N + QStringLiteral("_百度文库");
            r.headingHtml = link(r.href, r.titleText.toHtmlEscaped());
            break;
        case ResultSlot::Markup:
            r.href = docPath(n, t, QStringLiteral("charset"));
            r.titleText = kw + QStringLiteral(" 参考 资料 ") + N;
            r.headingHtml = link(r.href, QStringLiteral("<em>") + kwHtml + QStringLiteral("</em> 参考 资料 ") + N)
                            + QStringLiteral(" <a href=\"/view/") + id + QStringLiteral("-more.html\">更多</a>");
            break;
        case ResultSlot::UnknownType:
            r.href = (p % 2 == 1) ? base + QStringLiteral("/view/") + id + QLatin1Char('-') + N + QStringLiteral(".html")
                                  : QStringLiteral("/view?id=") + id + QLatin1Char('-') + N;
            r.linkType = QStringLiteral("html");
            r.titleText = kw + QStringLiteral(" 在线阅读 ") + N;
            r.headingHtml = link(r.href, r.titleText.toHtmlEscaped());
            break;
        case ResultSlot::SiteSuffix: {
            static const QStringList suffixes = {QStringLiteral("-道客巴巴"), QStringLiteral("-豆丁网"),
                                                 QStringLiteral("-百度文库")};
            r.href = base + docPath(n, t, {});
            r.titleText = kw + QStringLiteral(" 课件") + N + suffixes.at((p - 1) % suffixes.size());
            r.headingHtml = link(r.href, r.titleText.toHtmlEscaped());
            break;
        }
        case ResultSlot::ProtectedOrDuplicate:
            if (p == 1) {
                r.href = base + docPath(n, t, QStringLiteral("protected"));
                r.titleText = kw + QStringLiteral(" 会员资料 ") + N;
            } else {
                // The very link of the first result of page 1.
                const QString t0 = typed ? query.type : cycle.at(0);
                r.href = base + docPath(1, t0, {});
                r.linkType = t0;
                r.titleText = kw + QStringLiteral(" 重复链接 ") + N;
            }
            r.headingHtml = link(r.href, r.titleText.toHtmlEscaped());
            break;
        case ResultSlot::UpperCaseExt: {
            const QString ext = (p % 2 == 1) ? t.toUpper() : t.left(1).toUpper() + t.mid(1);
            r.href = docPath(n, ext, {});
            r.titleText = kw + QLatin1Char(' ') + N + QStringLiteral("-百度文库网");
            r.headingHtml = link(r.href, r.titleText.toHtmlEscaped());
            break;
        }
        case ResultSlot::DotsOrSpaces:
            if (p == 1) {
                r.href = docPath(n, t, {});
                r.titleText = QStringLiteral("......");
                r.headingHtml = link(r.href, r.titleText);
            } else {
                r.href = base + docPath(n, t, QStringLiteral("wrongtype"));
                r.titleText = kw + QStringLiteral(" 全集 ") + N;
                r.headingHtml = link(r.href, QStringLiteral("\n   ") + kwHtml + QStringLiteral("   全集\n ") + N
                                                 + QStringLiteral("  "));
            }
            break;
        }
        // The rendered text collapses runs of white space.
        r.titleText = r.titleText.simplified();
        r.absoluteUrl = r.href.startsWith(QLatin1Char('/')) ? base + r.href : r.href;
        out.append(r);
    }
    return out;
}

namespace {

QString pageHead(const QString& title)
{
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>%1</title>\n"
               "<style>body{font-family:sans-serif;margin:0 24px}.search-bar{padding:12px 0}"
               ".content-net-left{width:640px;float:left}.content-net-right{margin-left:680px}"
               ".result h3{font-size:16px;margin:12px 0 4px}.abstract{color:#555;font-size:13px;margin:0}"
               ".pager{clear:both;padding:16px 0}.pager a,.pager span{margin-right:8px}"
               ".ad{color:#999}</style>\n</head>\n<body>\n")
        .arg(title.toHtmlEscaped());
}

QString searchForm(const QString& value)
{
    return QStringLiteral(
               "<div class=\"search-bar\"><form action=\"/p\" method=\"get\">"
               "<input type=\"text\" name=\"w\" size=\"50\" value=\"%1\"> "
               "<input type=\"submit\" value=\"搜索文档\"></form></div>\n")
        .arg(value.toHtmlEscaped());
}

QString homePage()
{
    return pageHead(QStringLiteral("文档搜索 - 演示服务")) + searchForm(QString())
           + QStringLiteral(
               "<div class=\"intro\"><p>这是 DocHarvest 的本地演示搜索服务，内容由程序生成，不连接互联网。</p>"
               "<p>在搜索框中输入关键词，可以加上 filetype:pdf、filetype:doc、filetype:ppt 或 filetype:xls。</p>"
               "<p>要使用真实的搜索服务：在搜索窗口的菜单“工具 → 设置”中填写“搜索服务地址”"
               "（以 http:// 或 https:// 开头），或者启动时加上 --search-base 网址。</p>"
               "<p><a href=\"/login\">演示登录页面</a></p></div>\n</body>\n</html>\n");
}

QString pagerLink(const std::string& rawW, int page, const QString& text)
{
    const QString href = QStringLiteral("/p?w=") + QString::fromStdString(rawW) + QStringLiteral("&pn=")
                         + QString::number(page);
    return QStringLiteral("<a class=\"next\" href=\"%1\">%2</a>\n").arg(href.toHtmlEscaped(), text);
}

QString resultPage(const SearchQuery& q, const QString& base, const DemoOptions& options)
{
    const int pages = pageCount(q, options);
    const QList<DemoResult> results = resultsFor(q, base, options);
    const QString id = hex8(queryHash(q));
    const QString shown = (q.quoted ? QStringLiteral("\"") + q.keywords + QStringLiteral("\"") : q.keywords)
                          + (q.type.isEmpty() ? QString() : QStringLiteral(" filetype:") + q.type);
    QString html = pageHead(q.keywords + QStringLiteral("_文档搜索")) + searchForm(shown);

    // Decoys before the result container: a sponsored block whose class only
    // starts like the container's, with headings and document links of its own.
    html += QStringLiteral("<div class=\"content-net-left-ad ad\"><h3><a href=\"/doc/ad-%1-1.pdf\">推广：%2 精品文档合集</a></h3>"
                           "<h3><a href=\"%3/doc/ad-%1-2.pdf\">推广：%2 资料下载</a></h3></div>\n")
                .arg(id, q.keywords.toHtmlEscaped(), base);

    html += QStringLiteral("<div class=\"content-net\">\n<div class=\"content-net-left clearfix\">\n");
    if (q.keywords.isEmpty()) {
        html += QStringLiteral("<p class=\"summary\">请输入关键词。</p>\n");
    } else if (results.isEmpty()) {
        html += QStringLiteral("<p class=\"summary\">没有更多结果。</p>\n");
    } else {
        html += QStringLiteral("<p class=\"summary\">找到约 %1 个文档，第 %2/%3 页</p>\n")
                    .arg(pages * std::max(1, options.resultsPerPage))
                    .arg(q.page)
                    .arg(pages);
        for (const DemoResult& r : results) {
            html += QStringLiteral("<div class=\"result\"><h3>") + r.headingHtml
                    + QStringLiteral("</h3><p class=\"abstract\">%1 ... 文档类型：%2</p></div>\n")
                          .arg(q.keywords.toHtmlEscaped(), r.linkType);
        }
        // A heading without a link inside the container.
        html += QStringLiteral("<h3>相关搜索</h3><p class=\"related\">%1 下载</p>\n").arg(q.keywords.toHtmlEscaped());
    }
    html += QStringLiteral("</div>\n");

    // Pager: every link has class "next"; only the last one reads "下一页>".
    html += QStringLiteral("<div class=\"pager\">\n");
    if (q.page > 1)
        html += pagerLink(q.rawW, std::min(q.page - 1, pages), QStringLiteral("&lt;上一页"));
    if (!q.keywords.isEmpty()) {
        for (int i = 1; i <= pages; ++i) {
            if (i == q.page)
                html += QStringLiteral("<span class=\"current\">%1</span>\n").arg(i);
            else
                html += pagerLink(q.rawW, i, QString::number(i));
        }
        if (q.page < pages)
            html += pagerLink(q.rawW, q.page + 1, QStringLiteral("下一页&gt;"));
    }
    html += QStringLiteral("</div>\n");

    // Decoys after the container: a side column and a second container.
    html += QStringLiteral("<div class=\"content-net-right\"><h3><a href=\"%1/doc/side-%2.pdf\">热门文档：%3 排行</a></h3>"
                           "</div>\n</div>\n")
                .arg(base, id, q.keywords.toHtmlEscaped());
    html += QStringLiteral("<div class=\"content-net-left related-docs\"><h3><a href=\"/doc/related-%1.pdf\">相关文档："
                           "%2 合集</a></h3></div>\n")
                .arg(id, q.keywords.toHtmlEscaped());
    html += QStringLiteral("</body>\n</html>\n");
    return html;
}

QString verificationPage(const QString& code, const std::string& back, bool wrong)
{
    QString html = pageHead(QStringLiteral("安全验证"));
    html += QStringLiteral("<div class=\"verify\">\n<p>") + verificationMarker() + QStringLiteral("</p>\n");
    if (wrong)
        html += QStringLiteral("<p class=\"error\">验证码错误，请重新输入。</p>\n");
    html += QStringLiteral("<p>验证码：<span id=\"verify-code\">%1</span></p>\n").arg(code);
    html += QStringLiteral(
                "<form id=\"verify-form\" action=\"/verify\" method=\"post\">"
                "<input type=\"text\" name=\"code\" id=\"code\" value=\"\">"
                "<input type=\"hidden\" name=\"back\" value=\"%1\">"
                "<input type=\"submit\" id=\"verify-submit\" value=\"提交\"></form>\n</div>\n</body>\n</html>\n")
                .arg(QString::fromStdString(back).toHtmlEscaped());
    return html;
}

// A verification answer may only send the client back to a result page.
std::string safeBack(const std::string& back)
{
    if (back.rfind("/p?", 0) == 0 || back == "/p")
        return back;
    return "/p?w=1";
}

} // namespace

void registerSearchRoutes(httplib::Server& server, DemoState& state)
{
    state.search = std::make_shared<SearchState>();
    auto* st = static_cast<SearchState*>(state.search.get());
    DemoState* ds = &state;

    server.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/p?w=1"); });

    server.Get("/p", [ds, st](const httplib::Request& req, httplib::Response& res) {
        const SearchQuery q = parseSearchQuery(util::rawQuery(req));
        if (q.home) {
            util::sendHtml(res, homePage());
            return;
        }
        const QString base = QString::fromStdString(util::baseUrlOf(req));
        const std::string back = req.target;
        DemoOptions options;
        QString captcha;
        {
            std::lock_guard lock(ds->mutex);
            options = ds->options;
            const auto now = Clock::now();
            if (st->captchaActive
                && now - st->captchaSince >= std::chrono::seconds(std::max(0, options.captchaTimeoutSeconds))) {
                st->captchaActive = false;
                st->recent.clear();
            }
            if (!st->captchaActive && options.rateLimitPages >= 0) {
                st->recent.push_back(now);
                const auto window = std::chrono::seconds(std::max(0, options.rateLimitWindowSeconds));
                while (!st->recent.empty() && now - st->recent.front() > window)
                    st->recent.pop_front();
                if (int(st->recent.size()) > options.rateLimitPages) {
                    st->captchaActive = true;
                    st->captchaSince = now;
                    ++st->captchaCount;
                    const std::string seed = "captcha-" + std::to_string(st->captchaCount);
                    st->captchaCode = QString::number(1000 + util::stableHash(seed) % 9000);
                }
            }
            if (st->captchaActive)
                captcha = st->captchaCode;
        }
        if (!captcha.isEmpty()) {
            util::sendHtml(res, verificationPage(captcha, back, false));
            return;
        }
        util::sendHtml(res, resultPage(q, base, options));
    });

    auto verify = [ds, st](const httplib::Request& req, httplib::Response& res) {
        const std::string code = util::formValue(req, "code");
        const std::string back = safeBack(util::formValue(req, "back"));
        QString shown;
        {
            std::lock_guard lock(ds->mutex);
            if (st->captchaActive && QString::fromStdString(code).trimmed() != st->captchaCode)
                shown = st->captchaCode;
            else if (st->captchaActive) {
                st->captchaActive = false;
                st->recent.clear();
            }
        }
        if (!shown.isEmpty()) {
            util::sendHtml(res, verificationPage(shown, back, true));
            return;
        }
        res.set_redirect(back);
    };
    server.Get("/verify", verify);
    server.Post("/verify", verify);
}

} // namespace dh::demo
