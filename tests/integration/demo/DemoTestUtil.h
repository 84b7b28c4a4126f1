#pragma once
// Helpers for the demo service tests: a running service per test, and a
// small gumbo walk that reads pages the way the result extraction does.

#include "demo/DemoService.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>

namespace dh::demo::test {

struct Link {
    QString href;
    QString text;   // descendant text, white space collapsed
    QString cls;    // class attribute
};

struct Input {
    QString name, type, id;
};

struct PageView {
    bool hasContainer = false;
    QList<Link> results;      // first <a> of each <h3> in the first "content-net-left"
    QList<Link> classNext;    // every element of class "next", in order
    QList<Input> inputs;      // every <input>, in order
    QString textOfId(const QString& id) const { return ids.value(id); }
    QHash<QString, QString> ids;  // element id -> text
};

PageView viewPage(const QByteArray& html);

// The href of the pager link whose text is exactly "下一页>", or empty.
QString nextHref(const PageView& page);

class DemoFixture : public ::testing::Test {
protected:
    void startService(DemoOptions options = {})
    {
        service = std::make_unique<DemoService>(options);
        ASSERT_TRUE(service->start());
        client = std::make_unique<httplib::Client>("127.0.0.1", int(service->port()));
        client->set_read_timeout(10, 0);
        // Send paths as written: browsers keep '+' and '%22' in a query.
        client->set_url_encode(false);
    }
    void TearDown() override
    {
        client.reset();
        if (service)
            service->stop();
    }
    QByteArray getBody(const std::string& path, int expectStatus = 200)
    {
        auto res = client->Get(path.c_str());
        EXPECT_TRUE(res) << path;
        if (!res)
            return {};
        EXPECT_EQ(res->status, expectStatus) << path;
        return QByteArray::fromStdString(res->body);
    }
    QString base() const { return service->baseUrl(); }

    std::unique_ptr<DemoService> service;
    std::unique_ptr<httplib::Client> client;
};

} // namespace dh::demo::test
