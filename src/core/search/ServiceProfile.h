#pragma once
// A search service described in data: how to ask it (the query address),
// where its results are on a result page (CSS selectors), how to reach the
// next page and how it says it wants a verification code. Profiles are small
// JSON files; the built-in ones are compiled in, the user's live in
// ~/.local/share/DocHarvest/profiles/.
#include "html/Selector.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace dh {

class SettingsStore;

struct ServiceProfile {
    // Where a result's document type comes from: the ending of its address,
    // or (for services that link through redirectors) the query that found it.
    enum class TypeSource { Link, Query };

    QString name;
    QString query;          // "{base}/p?w={keywords}+filetype%3A{type}"
    QString home;           // may be empty: the query address's site
    QString container;      // optional: the first match holds the results
    QString item;           // one result
    QString link;           // inside an item; "a[href]" when not given
    QString title;          // inside an item; the link when not given
    QString next;           // next-page link candidates
    QString nextText;       // the next-page link's exact rendered text
                            // (neither: one result page per query)
    QString urlAttribute;   // the real address kept in an attribute
    QString urlParameter;   // the real address kept in a query parameter of the link
    QStringList verification;
    TypeSource typeSource = TypeSource::Link;
    QString checked;        // when the profile was last checked against real pages
    QString sourcePath;     // the file it came from; empty for a built-in

    // Parsed selectors (null when the field is empty).
    std::shared_ptr<const css::SelectorList> containerSelector, itemSelector, linkSelector, titleSelector,
        nextSelector;

    // The address of one query: {base} is the service address without the
    // trailing "/", {keywords} the encoded keyword group (in %22 quotes when
    // whole), {type} the document type.
    QString queryAddress(const QString& base, const QString& keywords, const QString& type, bool whole) const;
    // The home page; with no home template, the query address's scheme and host.
    QString homeAddress(const QString& base) const;
    bool isBuiltIn() const { return sourcePath.isEmpty(); }
    bool usesBase() const;
};

// Reads a profile. On a refusal *error names the field and why
// ("field \"item\": cannot parse selector: ..."), and nothing is returned.
std::optional<ServiceProfile> parseServiceProfile(const QByteArray& json, QString* error);
std::optional<ServiceProfile> loadServiceProfileFile(const QString& path, QString* error);

// The profile file text of a profile (what docs/profiles/ and 导入… hold).
QByteArray serviceProfileJson(const ServiceProfile& profile);

// The compiled-in profiles; the first is the default service ("Quorvex").
const QList<ServiceProfile>& builtInProfiles();
const ServiceProfile& defaultServiceProfile();

// ~/.local/share/DocHarvest/profiles/ (ending with "/").
QString userProfilesFolder();
// Built-ins, then the user's valid profile files by name; a user file with a
// built-in's name is left out. Files that fail to load are listed in *problems.
QList<ServiceProfile> availableServiceProfiles(QStringList* problems = nullptr);
// The profile of that name; the default for an empty or unknown name.
ServiceProfile serviceProfileNamed(const QString& name);
// The profile the setting 设置/搜索服务配置 names.
ServiceProfile activeServiceProfile(const SettingsStore& store);
// A command line's --profile: an existing file path wins over a name.
std::optional<ServiceProfile> resolveServiceProfile(const QString& nameOrFile, QString* error);
// Copies a profile file into the user's folder after validating it, as
// "<name>.json" (replacing an earlier import of the same name). Built-in
// names are refused.
std::optional<ServiceProfile> importServiceProfile(const QString& file, QString* error);

} // namespace dh
