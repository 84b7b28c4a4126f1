#include "download/DownloadListModel.h"
#include "download/UnfinishedList.h"
#include "ports/SystemCodePage.h"

#include <gtest/gtest.h>

using namespace dh;

// Rows written on close come back as the same downloads, whatever their text.
TEST(UnfinishedList, RowsComeBackWhole)
{
    struct Row {
        const char* codePage;
        const char* name;
        const char* type;
        const char* folder;
        DownloadState state;
        const char* requested;
        const char* typeBack;
    } rows[] = {
        {"UTF-8", "报告", "pdf", "/d/", DownloadState::Failed, "pdf", "pdf"},
        {"GBK", "报告한글", "doc", "/d/资料😀/", DownloadState::Waiting, "doc", "doc"},
        {"GBK", "a\tb", "pdf", "/d/x\\ty\r\n/", DownloadState::Downloading, "pdf", "pdf"},
        {"UTF-8", "登录", "htm", "/d/", DownloadState::Page, "pdf", "pdf"},
    };
    for (const Row& r : rows) {
        SystemCodePage::setName(QString::fromLatin1(r.codePage));
        DownloadItem in;
        in.url = QStringLiteral("http://h/a?x=1");
        in.name = QString::fromUtf8(r.name);
        in.fileType = QString::fromLatin1(r.type);
        in.folder = QString::fromUtf8(r.folder);
        in.referer = QStringLiteral("http://h/");
        in.state = r.state;
        in.requestedType = QString::fromLatin1(r.requested);
        in.percent = 37;
        const auto back = parseUnfinishedList(unfinishedListText({in, in}));
        ASSERT_EQ(back.size(), 2u) << r.name;
        EXPECT_EQ(back[0].name, in.name);
        EXPECT_EQ(back[0].folder, in.folder) << r.folder;
        EXPECT_EQ(back[0].url, in.url);
        EXPECT_EQ(back[0].referer, in.referer);
        EXPECT_EQ(back[0].fileType, QString::fromLatin1(r.typeBack));
        EXPECT_EQ(back[0].state, DownloadState::Waiting);
        EXPECT_TRUE(cellText(back[0], DownloadListModel::ColProgress).isEmpty());
    }
    SystemCodePage::setName({});
}
