// Which pages of a finished save the offline check opens, and how its
// report reads as lines.

#include "run/CopyCheck.h"

#include "browser/MemoryObjects.h"
#include "support/TempFolder.h"
#include "tools/ProcessValues.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace larkspool;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Only relinked pages whose file is there: not a skipped page, not a page
// whose file went away, not pictures.
TEST(CopyCheck, StoredPagesAreTheRelinkedOnesInTheFolder) {
    const check::TempFolder folder;
    OutputFolder = folder.Path() + "/";
    MemoryPage page;
    page.Url = "http://site.test/index.htm";
    page.Title = "Home";
    page.Images = {"http://site.test/logo.gif"};
    TLister list{Variant(MakeMemoryWindow(page))};
    list.AddLink("http://site.test/a.htm", "A");
    list.AddLink("http://site.test/b.htm", "B");
    list.AddLink("http://site.test/c.htm", "C");
    ASSERT_EQ(list.Pages().size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        list.SetStateOf(phPages, i, i == 2 ? stSkipped : stRelinked);
        if (i != 3)
            folder.Write(list.Pages()[i].FileName, "<p>saved</p>");
    }
    list.SetStateOf(phPictures, 0, stSavedOther);
    folder.Write(list.Pictures()[0].FileName, "GIF89a");

    EXPECT_THAT(StoredPages(list, OutputFolder),
                ElementsAre("INDEX.HTML", list.Pages()[1].FileName));
    EXPECT_THAT(StoredPages(list, OutputFolder + "elsewhere/"), IsEmpty());
}

TEST(CopyCheck, ProblemLinesNameThePageTheFileAndWhy) {
    OfflineReport report;
    report.Pages.push_back(
        {"INDEX.HTML",
         {{"pic.gif", "file not found"}, {"http://site.test/a.css", "needs the network"}}});
    report.Pages.push_back({"a.htm", {}});
    report.Pages.push_back({"b.htm", {{"", "it kept loading for 15 s"}}});
    EXPECT_THAT(ProblemLines(report),
                ElementsAre("INDEX.HTML: pic.gif — file not found",
                            "INDEX.HTML: http://site.test/a.css — needs the network",
                            "b.htm: it kept loading for 15 s"));
    EXPECT_THAT(ProblemLines(OfflineReport{}), IsEmpty());
}

} // namespace
