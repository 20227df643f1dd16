#include "cli/StoredFiles.h"

#include "lister/ListerFixture.h"
#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace larkspool;

namespace {

using StoredFilesTest = check::ListerTest;

} // namespace

TEST_F(StoredFilesTest, APageWrittenByTheRunCounts) {
    TLister& list = Make();
    const StoredFiles stored(list, OutputFolder);
    WriteFileAtomically(OutputFolder + "INDEX.HTML", "<html></html>");
    const StoredCounts counts = stored.Count(list);
    EXPECT_EQ(counts.Saved, 1);
    EXPECT_EQ(counts.NotStored, 0);
    EXPECT_TRUE(counts.StartPageStored);
}

TEST_F(StoredFilesTest, APageThatCouldNotBeWrittenDoesNotCount) {
    TLister& list = Make();
    std::filesystem::create_directory(OutputFolder + "INDEX.HTML"); // the write fails
    const StoredFiles stored(list, OutputFolder);
    const StoredCounts counts = stored.Count(list);
    EXPECT_EQ(counts.Saved, 0);
    EXPECT_EQ(counts.NotStored, 1);
    EXPECT_FALSE(counts.StartPageStored);
}

// An earlier save's copy, not replaced by this run, is not this save's.
TEST_F(StoredFilesTest, AnEarlierCopyLeftInPlaceDoesNotCount) {
    WriteFile("INDEX.HTML", "<html>earlier</html>");
    TLister& list = Make();
    const StoredFiles stored(list, OutputFolder);
    EXPECT_FALSE(stored.Count(list).StartPageStored);
    WriteFileAtomically(OutputFolder + "INDEX.HTML", "<html>now</html>");
    EXPECT_TRUE(stored.Count(list).StartPageStored);
}

TEST_F(StoredFilesTest, FetchedItemsCountByTheirFile) {
    TLister& list = Make();
    list.AddLink("http://site.test/docs/a.html", "A");
    list.AddLink("http://site.test/docs/b.html", "B");
    const StoredFiles stored(list, OutputFolder);
    ASSERT_EQ(list.Pages().size(), 3u);
    ASSERT_TRUE(list.FindFirst()); // the first one to fetch
    ASSERT_EQ(list.CurrentURL(), "http://site.test/docs/a.html");
    list.SetCurrentState(stSavedText);
    WriteFile(list.CurrentFileName(), "a");
    ASSERT_TRUE(list.FindNext());
    list.SetCurrentState(stSavedText); // its file went missing
    const StoredCounts counts = stored.Count(list);
    EXPECT_EQ(counts.Saved, 1);
    EXPECT_EQ(counts.NotStored, 2); // b.html and the start page
}
