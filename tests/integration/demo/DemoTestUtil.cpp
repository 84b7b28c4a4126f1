#include "DemoTestUtil.h"

#include <gumbo.h>

namespace dh::demo::test {

namespace {

QString attr(const GumboElement& e, const char* name)
{
    const GumboAttribute* a = gumbo_get_attribute(&e.attributes, name);
    return a ? QString::fromUtf8(a->value) : QString();
}

void collectText(const GumboNode* n, QString& out)
{
    if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE) {
        out += QString::fromUtf8(n->v.text.text);
        return;
    }
    if (n->type != GUMBO_NODE_ELEMENT)
        return;
    const GumboVector& kids = n->v.element.children;
    for (unsigned i = 0; i < kids.length; ++i)
        collectText(static_cast<const GumboNode*>(kids.data[i]), out);
}

QString textOf(const GumboNode* n)
{
    QString t;
    collectText(n, t);
    return t.simplified();
}

bool hasClass(const GumboElement& e, const QString& cls)
{
    return attr(e, "class").split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(cls);
}

template <typename F>
void walk(const GumboNode* n, F&& f)
{
    if (n->type != GUMBO_NODE_ELEMENT)
        return;
    f(n);
    const GumboVector& kids = n->v.element.children;
    for (unsigned i = 0; i < kids.length; ++i)
        walk(static_cast<const GumboNode*>(kids.data[i]), f);
}

} // namespace

PageView viewPage(const QByteArray& html)
{
    PageView view;
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, html.constData(), size_t(html.size()));
    const GumboNode* container = nullptr;
    walk(out->root, [&](const GumboNode* n) {
        const GumboElement& e = n->v.element;
        if (!container && hasClass(e, QStringLiteral("content-net-left")))
            container = n;
        if (hasClass(e, QStringLiteral("next")))
            view.classNext.append({attr(e, "href"), textOf(n), attr(e, "class")});
        if (e.tag == GUMBO_TAG_INPUT)
            view.inputs.append({attr(e, "name"), attr(e, "type"), attr(e, "id")});
        const QString id = attr(e, "id");
        if (!id.isEmpty())
            view.ids.insert(id, textOf(n));
    });
    if (container) {
        view.hasContainer = true;
        walk(container, [&](const GumboNode* n) {
            if (n->v.element.tag != GUMBO_TAG_H3)
                return;
            const GumboNode* a = nullptr;
            walk(n, [&](const GumboNode* m) {
                if (!a && m->v.element.tag == GUMBO_TAG_A)
                    a = m;
            });
            if (a)
                view.results.append({attr(a->v.element, "href"), textOf(a), attr(a->v.element, "class")});
        });
    }
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    return view;
}

QString nextHref(const PageView& page)
{
    for (const Link& l : page.classNext) {
        if (l.text.trimmed().toLower() == QStringLiteral("下一页>"))
            return l.href;
    }
    return {};
}

} // namespace dh::demo::test
