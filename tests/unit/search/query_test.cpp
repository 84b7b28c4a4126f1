#include "search/SearchQuery.h"

#include <gtest/gtest.h>

using namespace dh;

namespace {

struct QueryCase {
    const char* keywords;
    const char* type;
    bool whole;
    const char* expected;  // after the base address
};

class QueryComposition : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryComposition, ComposesTheServiceAddress)
{
    const QueryCase& c = GetParam();
    EXPECT_EQ(composeSearchAddress(QStringLiteral("http://s.example"), QString::fromUtf8(c.keywords),
                                   QString::fromUtf8(c.type), c.whole),
              QStringLiteral("http://s.example") + QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, QueryComposition,
    ::testing::Values(
        QueryCase{"教程", "pdf", false, "/p?w=%E6%95%99%E7%A8%8B+filetype%3Apdf"},
        QueryCase{"教程", "pdf", true, "/p?w=%22%E6%95%99%E7%A8%8B%22+filetype%3Apdf"},
        // The group is trimmed of spaces first; inner spaces stay as they are.
        QueryCase{"  C 语言 ", "doc", false, "/p?w=C %E8%AF%AD%E8%A8%80+filetype%3Adoc"},
        QueryCase{"a+b&c#1", "xls", false, "/p?w=a%2Bb%26c%231+filetype%3Axls"},
        QueryCase{"100%", "ppt", true, "/p?w=%22100%25%22+filetype%3Appt"}));

TEST(SearchQuery, BaseAddressMayEndWithASlash)
{
    EXPECT_EQ(composeSearchAddress(QStringLiteral("http://h:8/"), QStringLiteral("x"), QStringLiteral("pdf"), false),
              QStringLiteral("http://h:8/p?w=x+filetype%3Apdf"));
    EXPECT_EQ(searchHomeAddress(QStringLiteral("http://h:8/")), QStringLiteral("http://h:8/p?w=1"));
    EXPECT_EQ(searchHomeAddress(QStringLiteral("http://h:8")), QStringLiteral("http://h:8/p?w=1"));
}

TEST(SearchQuery, KeywordLinesSplitAtEveryLineEnd)
{
    EXPECT_EQ(splitKeywordLines(QStringLiteral("教程\r\n手册\n\n  \r工具")),
              (QStringList{QStringLiteral("教程"), QStringLiteral("手册"), QString(), QStringLiteral("  "),
                           QStringLiteral("工具")}));
    EXPECT_EQ(searchTypes(), (QStringList{"pdf", "doc", "ppt", "xls"}));
}

} // namespace
