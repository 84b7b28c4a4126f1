#pragma once
#include "gui/WindowTestFriends.h"
#include <QDialog>
#include <QString>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace dh {

// The options dialog: transfer method, proxy, the save-folder prompt at
// extraction time and the size limit. "确定" stores every value at once and
// updates the open download window; "关闭" changes nothing.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* parent = nullptr);
    ~OptionsDialog() override;

    static OptionsDialog* instance();  // nullptr when not loaded
    void fillProfiles(const QString& select);
    // 导入…: a profile file chosen by the user, checked and copied in.
    void importProfile(const QString& file);

    // The size box as the whole number of megabytes to store: rounded half to
    // even; nullopt when it is not a number, negative or too large.
    static std::optional<int> parseSizeText(const QString& text);
    // Whether the proxy values deserve the format warning (proxy on, and the
    // host empty or the port not a whole number from 1 to 65535).
    static bool proxyValuesLookWrong(bool enabled, const QString& host, const QString& port);

    static QString proxyWarningText() { return QStringLiteral("代理服务器网址或者端口格式不对！"); }
    static QString sizeRefusalText()
    {
        return QStringLiteral("下载文件大小必须是不小于0的数字（单位：MB），请重新输入！");
    }

    // An empty box or a domain name of letters, digits, "." and "-".
    static bool excludedDomainLooksRight(const QString& text);
    static QString searchAddressRefusalText()
    {
        return QStringLiteral("搜索服务地址格式不对！请输入以 http:// 或 https:// 开头并带有主机名的网址，"
                              "或者留空使用内置演示服务。");
    }
    static QString updateAddressRefusalText()
    {
        return QStringLiteral("更新服务地址格式不对！请输入以 http:// 或 https:// 开头并带有主机名的网址，"
                              "或者留空不检查更新。");
    }
    static QString domainRefusalText()
    {
        return QStringLiteral("排除标题后缀域名格式不对！只能包含字母、数字、“.”和“-”（如：docin.com）。");
    }

    void load();

private:
    void okClicked();
    void closeClicked();
    // Refuses 确定 with message when the box's text is wrong; true when it is fine.
    bool refuse(QLineEdit* box, const QString& message);
    QString m_loadedSearch;  // the addresses as shown, to apply only what changed
    QString m_loadedUpdate;

private:
    DH_WINDOW_TEST_FRIENDS

    QLabel* m_methodLabel = nullptr;     // "下载方式："
    QRadioButton* m_methodOneRadio = nullptr;   // method one
    QRadioButton* m_methodTwoRadio = nullptr;   // method two
    QCheckBox* m_useProxyCheck = nullptr;       // "下载使用代理服务器"
    QLineEdit* m_proxyHostEdit = nullptr;        // proxy host
    QLabel* m_hostHintLabel = nullptr;   // example host and address
    QLineEdit* m_proxyPortEdit = nullptr;        // proxy port
    QLabel* m_portHintLabel = nullptr;   // "(如：3128 或者 80 等等)"
    QCheckBox* m_askSaveFolderCheck = nullptr;       // "提取网页信息时，提示下载保存路径"
    QCheckBox* m_clearCacheOnExitCheck = nullptr;    // "退出时清空浏览器缓存"
    QLineEdit* m_sizeLimitEdit = nullptr;        // size limit in MB
    QSpinBox* m_retriesSpin = nullptr;           // 失败重试次数 (0: none)
    QSpinBox* m_perHostSpin = nullptr;           // 每个服务器同时下载数 (0: no limit)
    // Service addresses and the excluded title suffix domain ("设置" section).
    QLineEdit* m_searchServiceEdit = nullptr;   // 搜索服务地址 (empty: the built-in demo service)
    QLineEdit* m_updateServiceEdit = nullptr;   // 更新服务地址 (empty: no update check)
    QLineEdit* m_excludedDomainEdit = nullptr;  // 排除标题后缀域名, at most 12 characters
    QComboBox* m_profileCombo = nullptr;         // 搜索服务配置: the profiles by name
    QPushButton* m_importProfileButton = nullptr;  // "导入…"
    QLabel* m_profileQueryLabel = nullptr;       // the chosen profile's query template
    QPushButton* m_okButton = nullptr;   // "确定"
    QPushButton* m_closeButton = nullptr;   // "关闭"
};

// Opens the options dialog modally over parent without a nested event loop
// and returns at once; an open one is brought to the front instead.
void showOptionsDialog(QWidget* parent);

} // namespace dh
