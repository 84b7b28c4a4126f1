// Pages for the browser tests: GBK decoding from the header or a <meta> tag,
// new-window requests, script dialogs and a page that asks to close itself.

#include "demo/DemoService.h"
#include "demo/DemoUtil.h"

#include <httplib.h>

#include <QStringEncoder>

namespace dh::demo {

namespace {

// The GBK page's text, so tests can compare the decoded page with it.
QString gbkPage(const QString& metaTag)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n") + metaTag
           + QStringLiteral("<title>中文编码页面</title>\n</head>\n<body>\n"
                            "<p id=\"text\">中文内容：文档搜索与下载</p>\n"
                            "<div class=\"content-net-left\"><h3><a href=\"/doc/gbk-1.pdf\">【PDF】中文标题 教程</a></h3></div>\n"
                            "</body>\n</html>\n");
}

void sendGbk(httplib::Response& res, const QString& html, const char* contentType)
{
    QStringEncoder enc("GBK");
    const QByteArray body = enc.encode(html);
    res.set_content(body.constData(), size_t(body.size()), contentType);
}

} // namespace

void registerBrowserTestRoutes(httplib::Server& server, DemoState&)
{
    server.Get("/gbk", [](const httplib::Request&, httplib::Response& res) {
        sendGbk(res, gbkPage({}), "text/html; charset=GBK");
    });
    server.Get("/gbk-meta", [](const httplib::Request&, httplib::Response& res) {
        sendGbk(res, gbkPage(QStringLiteral("<meta charset=\"gbk\">\n")), "text/html");
    });
    server.Get("/gbk-meta-equiv", [](const httplib::Request&, httplib::Response& res) {
        sendGbk(res,
                gbkPage(QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\n")),
                "text/html");
    });
    server.Get("/popup", [](const httplib::Request&, httplib::Response& res) {
        util::sendHtml(res, QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head><meta charset=\"utf-8\"><title>新窗口与提示</title></head>\n"
            "<body>\n"
            "<p><a id=\"blank-link\" href=\"/p?w=1\" target=\"_blank\">在新窗口打开首页</a></p>\n"
            "<p><a id=\"open-link\" href=\"#\" onclick=\"window.open('/login'); return false;\">window.open 登录页</a></p>\n"
            "<p><a id=\"open-blank\" href=\"#\" onclick=\"window.open('about:blank'); return false;\">window.open 空白页</a></p>\n"
            "<p><a id=\"alert-link\" href=\"#\" onclick=\"alert('演示提示'); document.title='已提示'; return false;\">弹出提示</a></p>\n"
            "<p><a id=\"close-link\" href=\"#\" onclick=\"window.close(); return false;\">关闭窗口</a></p>\n"
            "</body>\n</html>\n"));
    });
    server.Get("/alert", [](const httplib::Request&, httplib::Response& res) {
        util::sendHtml(res, QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head><meta charset=\"utf-8\"><title>加载时提示</title>\n"
            "<script>alert('加载时的提示');</script>\n</head>\n"
            "<body><p id=\"after-alert\">页面已加载</p></body>\n</html>\n"));
    });
}

} // namespace dh::demo
