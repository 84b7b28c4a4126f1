#include "net/NetworkErrorText.h"

#include <QRegularExpression>

#include <array>

namespace dh {

namespace {

struct Rule {
    const char* pattern;  // case-insensitive, matched anywhere in the text
    const char* reason;
};

// The first matching rule wins, so the narrower texts come first. The Qt
// texts (QNetworkReply::errorString, the headless browser), libcurl's (the
// transfers) and Chromium's net error names (ERR_CONNECTION_REFUSED, reported
// by the embedded browser) are covered.
const std::array kRules{
    Rule{R"(only http and https)", "不是网页地址"},
    Rule{R"(page larger than)", "页面过大"},
    Rule{R"(proxy|ERR_TUNNEL_CONNECTION_FAILED|CONNECT tunnel)", "代理服务器错误"},
    Rule{R"(\bssl\b|\btls\b|certificate|ERR_CERT_|ERR_SSL_|handshake)", "安全连接失败"},
    Rule{R"(too many redirects|redirect)", "重定向过多"},
    Rule{R"(connection refused|ERR_CONNECTION_REFUSED|ERR_CONNECTION_FAILED|ERR_ADDRESS_UNREACHABLE|)"
         R"(network unreachable|network is unreachable|host unreachable|couldn't connect|failed to connect)",
         "无法连接"},
    Rule{R"(host .* not found|ERR_NAME_NOT_RESOLVED|ERR_NAME_RESOLUTION_FAILED|name or service not known|)"
         R"(could not resolve host)",
         "找不到服务器"},
    Rule{R"(timed out|timeout|ERR_TIMED_OUT|ERR_CONNECTION_TIMED_OUT)", "连接超时"},
    Rule{R"(closed|reset|ERR_EMPTY_RESPONSE|ERR_CONNECTION_ABORTED|empty reply|failure when receiving|broken pipe)",
         "连接被断开"},
    Rule{R"(ERR_HTTP_RESPONSE_CODE_FAILURE|ERR_INVALID_RESPONSE)", "服务器返回错误"},
    Rule{R"(canceled|cancelled|ERR_ABORTED|operation aborted)", "已取消"},
    Rule{R"(network access is disabled|ERR_INTERNET_DISCONNECTED|ERR_NETWORK_)", "网络不可用"},
    Rule{R"(protocol .* is unknown|ERR_UNKNOWN_URL_SCHEME|ERR_DISALLOWED_URL_SCHEME|not supported or disabled|)"
         R"(bad/illegal format)",
         "不是网页地址"},
    Rule{R"(load failed)", "页面没有打开"},
};

const QRegularExpression& ruleExpression(size_t i)
{
    static const auto compiled = [] {
        std::array<QRegularExpression, kRules.size()> out;
        for (size_t k = 0; k < kRules.size(); ++k)
            out[k] = QRegularExpression(QString::fromUtf8(kRules[k].pattern),
                                        QRegularExpression::CaseInsensitiveOption);
        return out;
    }();
    return compiled[i];
}

} // namespace

QString NetworkFailure::text() const
{
    if (network.isEmpty())
        return reason;
    return reason + QStringLiteral("（") + network + QStringLiteral("）");
}

NetworkFailure describeNetworkError(const QString& networkText)
{
    const QString text = networkText.trimmed();
    // Qt's HTTP failures name the whole address before what the server said
    // ("Error transferring URL - server replied: Not Found"): only the
    // server's words are kept, and the address cannot pass for a reason.
    static const QRegularExpression replied(QStringLiteral(R"(server replied:\s*(.*)$)"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = replied.match(text); m.hasMatch())
        return {QStringLiteral("服务器返回错误"), m.captured(1).trimmed()};
    for (size_t i = 0; i < kRules.size(); ++i) {
        if (ruleExpression(i).match(text).hasMatch())
            return {QString::fromUtf8(kRules[i].reason), text};
    }
    return {QStringLiteral("网络错误"), text};
}

} // namespace dh
