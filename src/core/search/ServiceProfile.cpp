#include "search/ServiceProfile.h"

#include "app/Helpers.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUrl>

namespace dh {

namespace {

const QStringList& knownFields()
{
    static const QStringList f = {QStringLiteral("name"),     QStringLiteral("query"),
                                  QStringLiteral("home"),     QStringLiteral("container"),
                                  QStringLiteral("item"),     QStringLiteral("link"),
                                  QStringLiteral("title"),    QStringLiteral("next"),
                                  QStringLiteral("nextText"), QStringLiteral("urlAttribute"),
                                  QStringLiteral("urlParameter"),
                                  QStringLiteral("verification"), QStringLiteral("type"),
                                  QStringLiteral("checked")};
    return f;
}

QString stripSlash(QString b)
{
    while (b.endsWith(QLatin1Char('/')))
        b.chop(1);
    return b;
}

QString fieldError(const QString& field, const QString& why)
{
    return QStringLiteral("field \"%1\": %2").arg(field, why);
}

// A template must give an http(s) address once {base} is filled in.
bool templateIsWebAddress(const QString& tpl)
{
    if (tpl.startsWith(QLatin1String("{base}")))
        return true;
    QString probe = tpl;
    probe.replace(QLatin1String("{keywords}"), QLatin1String("k"));
    probe.replace(QLatin1String("{type}"), QLatin1String("pdf"));
    return isWebAddress(probe);
}

ServiceProfile quorvex()
{
    // The service the program was first written for: the first result
    // container, each heading's first link, "下一页>" among the pager links.
    static const char* json = R"({
  "name": "Quorvex",
  "query": "{base}/p?w={keywords}+filetype%3A{type}",
  "home": "{base}/p?w=1",
  "container": ".content-net-left",
  "item": "h3",
  "link": "a",
  "next": ".next",
  "nextText": "下一页>",
  "verification": "请输入以下验证码，即可恢复使用。",
  "type": "link"
})";
    QString error;
    auto p = parseServiceProfile(QByteArray(json), &error);
    Q_ASSERT_X(p, "quorvex", qPrintable(error));
    return *p;
}

} // namespace

bool ServiceProfile::usesBase() const
{
    return query.contains(QLatin1String("{base}")) || home.contains(QLatin1String("{base}"));
}

QString ServiceProfile::queryAddress(const QString& base, const QString& keywords, const QString& type,
                                     bool whole) const
{
    QString q = encodeKeyword(trimSpaces(keywords));
    if (whole)
        q = QStringLiteral("%22") + q + QStringLiteral("%22");
    QString out = query;
    out.replace(QLatin1String("{base}"), stripSlash(base));
    out.replace(QLatin1String("{type}"), type);
    out.replace(QLatin1String("{keywords}"), q);  // last: keywords may hold braces
    return out;
}

QString ServiceProfile::homeAddress(const QString& base) const
{
    if (!home.isEmpty()) {
        QString out = home;
        out.replace(QLatin1String("{base}"), stripSlash(base));
        return out;
    }
    const QUrl u(queryAddress(base, QString(), QString(), false));
    return u.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString() + QLatin1Char('/');
}

std::optional<ServiceProfile> parseServiceProfile(const QByteArray& json, QString* error)
{
    auto refuse = [&](const QString& why) -> std::optional<ServiceProfile> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("not JSON: %1 at offset %2").arg(pe.errorString()).arg(pe.offset));
    if (!doc.isObject())
        return refuse(QStringLiteral("not a JSON object"));
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!knownFields().contains(it.key()))
            return refuse(fieldError(it.key(), QStringLiteral("unknown field")));
        if (it.key() != QLatin1String("verification") && !it.value().isString())
            return refuse(fieldError(it.key(), QStringLiteral("must be a text")));
    }

    ServiceProfile p;
    auto text = [&](const char* field) { return o.value(QLatin1String(field)).toString().trimmed(); };
    p.name = text("name");
    p.query = text("query");
    p.home = text("home");
    p.container = text("container");
    p.item = text("item");
    p.link = text("link");
    p.title = text("title");
    p.next = text("next");
    p.nextText = text("nextText");
    p.urlAttribute = text("urlAttribute").toLower();
    p.urlParameter = text("urlParameter");
    p.checked = text("checked");

    if (p.name.isEmpty())
        return refuse(fieldError(QStringLiteral("name"), QStringLiteral("missing")));
    if (p.name.contains(QLatin1Char('/')) || p.name.startsWith(QLatin1Char('.')))
        return refuse(fieldError(QStringLiteral("name"), QStringLiteral("cannot hold \"/\" or begin with \".\"")));
    if (p.query.isEmpty())
        return refuse(fieldError(QStringLiteral("query"), QStringLiteral("missing")));
    if (!p.query.contains(QLatin1String("{keywords}")))
        return refuse(fieldError(QStringLiteral("query"), QStringLiteral("the template has no {keywords}")));
    if (!templateIsWebAddress(p.query))
        return refuse(fieldError(QStringLiteral("query"), QStringLiteral("not an http or https address")));
    if (!p.home.isEmpty() && !templateIsWebAddress(p.home))
        return refuse(fieldError(QStringLiteral("home"), QStringLiteral("not an http or https address")));
    if (p.item.isEmpty())
        return refuse(fieldError(QStringLiteral("item"), QStringLiteral("missing")));

    struct Sel {
        const char* field;
        QString* text;
        std::shared_ptr<const css::SelectorList>* out;
    } sels[] = {{"container", &p.container, &p.containerSelector},
                {"item", &p.item, &p.itemSelector},
                {"link", &p.link, &p.linkSelector},
                {"title", &p.title, &p.titleSelector},
                {"next", &p.next, &p.nextSelector}};
    for (const Sel& s : sels) {
        if (s.text->isEmpty())
            continue;
        QString why;
        auto list = css::SelectorList::parse(*s.text, &why);
        if (!list)
            return refuse(fieldError(QLatin1String(s.field), QStringLiteral("cannot parse selector: %1").arg(why)));
        *s.out = std::make_shared<const css::SelectorList>(std::move(*list));
    }
    if (!p.linkSelector)
        p.linkSelector = std::make_shared<const css::SelectorList>(*css::SelectorList::parse(u"a[href]"));

    const QJsonValue v = o.value(QLatin1String("verification"));
    if (v.isString()) {
        if (!v.toString().trimmed().isEmpty())
            p.verification << v.toString().trimmed();
    } else if (v.isArray()) {
        for (const QJsonValue& e : v.toArray()) {
            if (!e.isString() || e.toString().trimmed().isEmpty())
                return refuse(fieldError(QStringLiteral("verification"), QStringLiteral("must hold texts only")));
            p.verification << e.toString().trimmed();
        }
    } else if (!v.isUndefined()) {
        return refuse(fieldError(QStringLiteral("verification"), QStringLiteral("must be a text or a list of texts")));
    }

    const QString type = text("type");
    if (type.isEmpty() || type == QLatin1String("link"))
        p.typeSource = ServiceProfile::TypeSource::Link;
    else if (type == QLatin1String("query"))
        p.typeSource = ServiceProfile::TypeSource::Query;
    else
        return refuse(fieldError(QStringLiteral("type"), QStringLiteral("must be \"link\" or \"query\"")));
    return p;
}

std::optional<ServiceProfile> loadServiceProfileFile(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    // A profile is a few hundred bytes; anything large is not one.
    const QByteArray bytes = f.read(256 * 1024);
    QString why;
    auto p = parseServiceProfile(bytes, &why);
    if (!p) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return std::nullopt;
    }
    p->sourcePath = QFileInfo(path).absoluteFilePath();
    return p;
}

QByteArray serviceProfileJson(const ServiceProfile& p)
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), p.name);
    o.insert(QStringLiteral("query"), p.query);
    auto opt = [&](const char* field, const QString& v) {
        if (!v.isEmpty())
            o.insert(QLatin1String(field), v);
    };
    opt("home", p.home);
    opt("container", p.container);
    o.insert(QStringLiteral("item"), p.item);
    opt("link", p.link);
    opt("title", p.title);
    opt("next", p.next);
    opt("nextText", p.nextText);
    opt("urlAttribute", p.urlAttribute);
    opt("urlParameter", p.urlParameter);
    if (p.verification.size() == 1)
        o.insert(QStringLiteral("verification"), p.verification.first());
    else if (!p.verification.isEmpty())
        o.insert(QStringLiteral("verification"), QJsonArray::fromStringList(p.verification));
    o.insert(QStringLiteral("type"), p.typeSource == ServiceProfile::TypeSource::Query ? QStringLiteral("query")
                                                                                       : QStringLiteral("link"));
    opt("checked", p.checked);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

const QList<ServiceProfile>& builtInProfiles()
{
    static const QList<ServiceProfile> all = [] {
        QList<ServiceProfile> l{quorvex()};
        // Public engines, each checked against saved result pages on the date
        // in its "checked" field; live markup changes, see the README.
        for (const QString& path : {QStringLiteral(":/profiles/bing.json"), QStringLiteral(":/profiles/duckduckgo.json")}) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            QString error;
            auto p = parseServiceProfile(f.readAll(), &error);
            Q_ASSERT_X(p, "builtInProfiles", qPrintable(error));
            if (p)
                l << *p;
        }
        return l;
    }();
    return all;
}

const ServiceProfile& defaultServiceProfile()
{
    return builtInProfiles().first();
}

QString userProfilesFolder()
{
    return dataFolder() + QStringLiteral("profiles/");
}

QList<ServiceProfile> availableServiceProfiles(QStringList* problems)
{
    QList<ServiceProfile> out = builtInProfiles();
    QStringList names;
    for (const ServiceProfile& p : out)
        names << p.name;
    const QDir dir(userProfilesFolder());
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& f : files) {
        QString error;
        auto p = loadServiceProfileFile(dir.filePath(f), &error);
        if (!p) {
            if (problems)
                *problems << error;
            continue;
        }
        if (names.contains(p->name)) {
            if (problems)
                *problems << QStringLiteral("%1: the name \"%2\" is taken").arg(dir.filePath(f), p->name);
            continue;
        }
        names << p->name;
        out << *p;
    }
    return out;
}

ServiceProfile serviceProfileNamed(const QString& name)
{
    if (!name.trimmed().isEmpty()) {
        for (const ServiceProfile& p : availableServiceProfiles())
            if (p.name == name.trimmed())
                return p;
    }
    return defaultServiceProfile();
}

ServiceProfile activeServiceProfile(const SettingsStore& store)
{
    return serviceProfileNamed(store.get(keys::searchServiceProfile));
}

std::optional<ServiceProfile> resolveServiceProfile(const QString& nameOrFile, QString* error)
{
    const QFileInfo fi(nameOrFile);
    if (fi.exists() && !fi.isDir())
        return loadServiceProfileFile(nameOrFile, error);
    for (const ServiceProfile& p : availableServiceProfiles())
        if (p.name == nameOrFile)
            return p;
    if (error) {
        QStringList names;
        for (const ServiceProfile& p : availableServiceProfiles())
            names << p.name;
        *error = QStringLiteral("no profile file or name \"%1\" (known: %2)").arg(nameOrFile, names.join(QStringLiteral(", ")));
    }
    return std::nullopt;
}

std::optional<ServiceProfile> importServiceProfile(const QString& file, QString* error)
{
    auto p = loadServiceProfileFile(file, error);
    if (!p)
        return std::nullopt;
    for (const ServiceProfile& b : builtInProfiles()) {
        if (b.name == p->name) {
            if (error)
                *error = fieldError(QStringLiteral("name"), QStringLiteral("\"%1\" is a built-in profile").arg(p->name));
            return std::nullopt;
        }
    }
    if (!QDir().mkpath(userProfilesFolder())) {
        if (error)
            *error = QStringLiteral("%1: cannot make the folder").arg(userProfilesFolder());
        return std::nullopt;
    }
    // Written whole and renamed into place: an earlier import stays until then.
    const QString target = userProfilesFolder() + p->name + QStringLiteral(".json");
    QFile in(file);
    QSaveFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly) || out.write(in.readAll()) < 0
        || !out.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(target, out.errorString());
        return std::nullopt;
    }
    p->sourcePath = target;
    return p;
}

} // namespace dh
