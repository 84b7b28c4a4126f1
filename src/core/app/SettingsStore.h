#pragma once
#include <QString>
#include <QVariant>
#include <memory>

class QSettings;

namespace dh {

// One entry of the settings table: section, key and the default used when absent.
struct SettingKey {
    const char* section;
    const char* key;
    const char* defaultValue;
};

// The whole settings table. Sections and keys are literal texts; values are text.
namespace keys {
inline constexpr SettingKey maxFileSize{"设置", "文件最大值", "10"};
inline constexpr SettingKey promptOnExtract{"设置", "提取网页信息时提示下载保存路径", "1"};
// The default save folder depends on the home folder; see defaultSaveFolder().
inline constexpr SettingKey saveFolder{"设置", "下载文件保存路径", ""};
inline constexpr SettingKey downloadMethod{"设置", "下载方式", "2"};
inline constexpr SettingKey proxyEnabled{"设置", "代理服务器有效", "0"};
inline constexpr SettingKey proxyHost{"设置", "代理服务器网址", ""};
inline constexpr SettingKey proxyPort{"设置", "代理服务器端口", ""};
// Automatic retries of a transfer that failed on the way (0: none), and how
// many transfers may run at once against one server (0: no limit).
inline constexpr SettingKey retryCount{"设置", "失败重试次数", "3"};
inline constexpr SettingKey perHostLimit{"设置", "每个服务器同时下载数", "2"};
// Whether quitting empties the embedded browser's
// cache, and whether the user has been told so once.
inline constexpr SettingKey clearCacheOnExit{"设置", "退出时清空浏览器缓存", "1"};
inline constexpr SettingKey clearCacheOnExitTold{"设置", "已告知退出时清空浏览器缓存", "0"};
inline constexpr SettingKey threadIndex{"下载", "线程", "2"};
inline constexpr SettingKey sameNamePolicy{"专利下载", "重复文件名设置", "重命名"};
inline constexpr SettingKey searchKeywords{"fWebSearch", "Text1", ""};
inline constexpr SettingKey searchDelayIndex{"fWebSearch", "Combo1", "4"};
inline constexpr SettingKey downloadResolution{"fFileDownload", "分辨率", "000"};
inline constexpr SettingKey downloadTop{"fFileDownload", "上", "100"};
inline constexpr SettingKey downloadLeft{"fFileDownload", "左", "100"};
inline constexpr SettingKey downloadWidth{"fFileDownload", "宽", "15000"};
inline constexpr SettingKey downloadHeight{"fFileDownload", "高", "10000"};
// The default destination is the default save folder; see defaultCopyDestination().
inline constexpr SettingKey copyDestination{"Form_Copy_Move", "目的文件夹", ""};
inline constexpr SettingKey copyOption{"Form_Copy_Move", "OpIndex", "4"};
// Addresses of the services.
// Empty by default: no search service means the built-in demo service, no
// update server means no update check.
inline constexpr SettingKey searchServiceBase{"设置", "搜索服务地址", ""};
inline constexpr SettingKey updateServiceBase{"设置", "更新服务地址", ""};
// The search service's profile, by name; empty or unknown means the built-in one.
inline constexpr SettingKey searchServiceProfile{"设置", "搜索服务配置", ""};
// Domain of the document-sharing site (豆丁网) whose "<domain>豆丁网" title
// suffix excludes a result.
inline constexpr SettingKey excludedSuffixDomain{"设置", "排除标题后缀域名", "docin.com"};
// Result pages one query walks at most (0: no cap).
inline constexpr SettingKey searchPagesPerQuery{"fWebSearch", "每次查询最多页数", "100"};
} // namespace keys

// Per-user persistent text values keyed by (section, key). Every write is
// stored at once. Numbers that are not numbers read as the default.
class SettingsStore {
public:
    // The user's store: ~/.config/DocHarvest/DocHarvest.ini (XDG_CONFIG_HOME honoured).
    SettingsStore();
    // A store in an explicit INI file (tests, tools).
    explicit SettingsStore(const QString& iniPath);
    ~SettingsStore();

    QString get(const QString& section, const QString& key, const QString& defaultValue) const;
    QString get(const SettingKey& k) const;
    void save(const QString& section, const QString& key, const QString& value);
    void save(const SettingKey& k, const QString& value);
    void remove(const QString& section, const QString& key);

    // A whole number; a stored text that is not a number gives the default.
    // Fractions are rounded to the nearest whole number, halves to the even one.
    int getInt(const SettingKey& k) const;
    int getInt(const QString& section, const QString& key, int defaultValue) const;
    // A flag stored as "1"/"0" (any non-zero number is ticked).
    bool getFlag(const SettingKey& k) const;

    QString fileName() const;
    void sync();

    // The process-wide store. Replaceable so that tests can point it elsewhere.
    static SettingsStore& instance();
    static void setInstance(std::unique_ptr<SettingsStore> store);

private:
    std::unique_ptr<QSettings> m_settings;
};

// Parses a decimal number the way the store reads numbers: surrounding spaces
// allowed, anything else makes it invalid. Returns false when invalid.
bool parseStoredNumber(const QString& text, double* out);
// Rounds to the nearest whole number, halves to the even neighbour (10.5 -> 10, 11.5 -> 12).
long long roundHalfEven(double v);

// The desktop's download folder + "DocHarvest/".
QString defaultSaveFolder();
// The per-user data folder (~/.local/share/DocHarvest/), ending with "/".
QString dataFolder();
// The same as the default save folder.
QString defaultCopyDestination();

} // namespace dh
