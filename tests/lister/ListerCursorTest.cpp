#include "ListerFixture.h"

using namespace larkspool;
using Cursor = larkspool::check::ListerTest;

TEST_F(Cursor, PageWithNothingElseHasNothingToDownload) {
    TLister& list = Make();
    ASSERT_EQ(list.Pages().size(), 1u);
    EXPECT_EQ(list.Pages()[0].FileName, "INDEX.HTML");
    EXPECT_EQ(list.Pages()[0].State, stFromDocument);
    EXPECT_FALSE(list.FindFirst());
    EXPECT_EQ(list.PhaseCaption(), "Save Web Pages");
}

TEST_F(Cursor, FindNextFindsTheCurrentItemAgainUntilItsStateChanges) {
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "A");
    list.AddLink("http://site.test/b.htm", "B");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_TRUE(list.FindNext());
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentTitle(), "A");
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    EXPECT_EQ(list.CurrentTitle(), "B");
    EXPECT_EQ(list.Count(), 3);
    list.SetCurrentState(stSavedText);
    EXPECT_FALSE(list.FindNext());
}

TEST_F(Cursor, PhasesRunPagesPicturesStylesheetsAndNeverBack) {
    Settings.ShowPictures = true;
    Page.Images = {"http://site.test/p1.gif"};
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    list.AddStylesheet("http://site.test/s.css");

    ASSERT_TRUE(list.FindFirst());
    EXPECT_EQ(list.Phase(), phPages);
    list.SetCurrentState(stSavedText);
    ASSERT_TRUE(list.FindNext());
    EXPECT_EQ(list.Phase(), phPictures);
    EXPECT_EQ(list.PhaseCaption(), "Save pictures");
    EXPECT_EQ(list.CurrentURL(), "http://site.test/p1.gif");
    list.AddPicture("http://site.test/p2.gif"); // found while pictures run: still seen
    list.SetCurrentState(stSavedOther);
    ASSERT_TRUE(list.FindNext());
    EXPECT_EQ(list.CurrentURL(), "http://site.test/p2.gif");
    list.SetCurrentState(stSavedOther);
    ASSERT_TRUE(list.FindNext());
    EXPECT_EQ(list.Phase(), phStylesheets);
    EXPECT_EQ(list.PhaseCaption(), "Save stylesheets");
    list.AddLink("http://site.test/late.htm", ""); // an earlier phase: not visited again
    list.AddPicture("http://site.test/late.gif");
    list.SetCurrentState(stSavedText);
    EXPECT_FALSE(list.FindNext());
    EXPECT_EQ(list.Phase(), phStylesheets);

    list.ResetToPages();
    EXPECT_EQ(list.PhaseCaption(), "Save Web Pages");
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentFileName(), "INDEX.HTML");
}

TEST_F(Cursor, PicturesAreGatheredButNotVisitedWhenTurnedOff) {
    Page.Images = {"http://site.test/p1.gif"};
    TLister& list = Make();
    list.AddStylesheet("http://site.test/s.css");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_EQ(list.Phase(), phStylesheets);
    list.SetCurrentState(stSavedText);
    EXPECT_FALSE(list.FindNext());
    EXPECT_EQ(list.Pictures()[0].State, stToDownload);
}

TEST_F(Cursor, WithPicturesOnButNoneGatheredPagesPassToStylesheets) {
    Settings.ShowPictures = true;
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    list.AddStylesheet("http://site.test/s.css");
    ASSERT_TRUE(list.FindFirst());
    list.SetCurrentState(stSavedText);
    ASSERT_TRUE(list.FindNext());
    EXPECT_EQ(list.Phase(), phStylesheets);
}

TEST_F(Cursor, CursorRestsOnTheLastItemWhenNothingIsLeft) {
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    list.AddLink("http://site.test/b.htm", "");
    ASSERT_TRUE(list.FindFirst());
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    list.SetCurrentState(stSkipped);
    EXPECT_FALSE(list.FindNext());
    // no style sheets: the cursor now stands on index 0 of an empty list
    EXPECT_EQ(list.Phase(), phStylesheets);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list.CurrentURL(), std::logic_error);
}

TEST_F(Cursor, ByIndexAccessorsUseTheCurrentPhasesList) {
    Page.Images = {"http://site.test/p1.gif"};
    Settings.ShowPictures = true;
    TLister& list = Make();
    EXPECT_EQ(list.URLAt(0), Page.Url);
    ASSERT_TRUE(list.FindFirst());
    EXPECT_EQ(list.URLAt(0), "http://site.test/p1.gif");
    list.SetStateAt(0, stSkipped);
    EXPECT_EQ(list.StateAt(0), stSkipped);
    EXPECT_THROW(list.StateAt(1), std::out_of_range);
}
