#include "browser/LinkCollection.h"

#include "browser/MemoryObjects.h"

#include <gtest/gtest.h>

using namespace larkspool;

TEST(LinkCollection, RowsNumbersChecksAndMailLinks) {
    MemoryPage page;
    page.Url = "  http://site.test/index.html ";
    page.Title = " Report: 2001/2002 (final)\n";
    page.Selection = "read that one, and Other";
    page.Links = {{"http://site.test/a.htm", " at "}, {"MAILTO:me@site.test", "mail"},
                  {"http://site.test/b.htm", "At"},   {"http://site.test/send?to=mailto:x", "send"},
                  {"http://site.test/c.htm", ""},     {"http://site.test/a.htm", "Other"}};
    const PageLinks links = CollectPageLinks(Variant(MakeMemoryWindow(page)));
    EXPECT_EQ(links.URL, "http://site.test/index.html");
    EXPECT_EQ(links.Title, "Report: 2001/2002 (final)");
    ASSERT_EQ(links.Rows.size(), 4u);
    EXPECT_EQ(links.Rows[0].Number, " 1");
    EXPECT_EQ(links.Rows[1].Number, " 2");
    EXPECT_EQ(links.Rows[1].Address, "http://site.test/b.htm");
    EXPECT_EQ(links.Rows[0].Text, "at");
    EXPECT_TRUE(links.Rows[0].Checked);  // "at" inside "that"
    EXPECT_FALSE(links.Rows[1].Checked); // case counts
    EXPECT_FALSE(links.Rows[2].Checked); // empty text never
    EXPECT_TRUE(links.Rows[3].Checked);
    EXPECT_EQ(RowNumberCaption(99), "99");
    EXPECT_EQ(RowNumberCaption(100), "100");
}

TEST(LinkCollection, NothingSelectedChecksNothing) {
    MemoryPage page;
    page.Url = "http://site.test/";
    page.Links = {{"http://site.test/a.htm", "a"}};
    const PageLinks links = CollectPageLinks(Variant(MakeMemoryWindow(page)));
    ASSERT_EQ(links.Rows.size(), 1u);
    EXPECT_FALSE(links.Rows[0].Checked);
}
