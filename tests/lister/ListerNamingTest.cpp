#include "ListerFixture.h"

#include "lister/LocalNames.h"

using namespace larkspool;
using larkspool::check::ListerTest;

TEST(CleanLocalName, TrimsLowersCutsAndReplaces) {
    EXPECT_EQ(CleanLocalName("Photo Album.JPG"), "photo album.jpg");
    EXPECT_EQ(CleanLocalName("page.asp?id=3"), "page.asp");
    EXPECT_EQ(CleanLocalName("r%E9sum%E9.html"), "r_e9sum_e9.html");
    EXPECT_EQ(CleanLocalName(" \t my page.htm \r\n"), "my page.htm");
    EXPECT_EQ(CleanLocalName("a/b\\c:d#e&f=g~h+i"), "a_b_c_d_e_f_g_h_i");
    EXPECT_EQ(CleanLocalName("caf\xC3\xA9.htm"), "caf__.htm");
    EXPECT_EQ(CleanLocalName("?page=2"), "");
    EXPECT_EQ(CleanLocalName("A?B?C"), "a");
}

using Naming = ListerTest;

TEST_F(Naming, WorkedExamplesWithTheCounterAtZero) {
    for (const auto& [proposed, expected] :
         std::vector<std::pair<std::string, std::string>>{{"Photo Album.JPG", "photo album.jpg"},
                                                          {"page.asp?id=3", "page.asp"},
                                                          {"?page=2", "f0"},
                                                          {"", "f0"},
                                                          {"?", "f0"},
                                                          {"r%E9sum%E9.html", "r_e9sum_e9.html"}}) {
        TLister& list = Make();
        EXPECT_EQ(list.MakeUniqueName(proposed), expected) << proposed;
    }
}

TEST_F(Naming, ClashesTakeTheSharedCounterAsPrefix) {
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "a");
    list.AddLink("http://other.test/a.htm", "a again");
    EXPECT_EQ(list.Pages()[2].FileName, "0a.htm");
    EXPECT_EQ(list.MakeUniqueName("a.htm"), "1a.htm"); // meets a.htm only
    EXPECT_EQ(list.MakeUniqueName(""), "f2");          // the counter is shared
    EXPECT_EQ(list.MakeUniqueName("a.htm"), "3a.htm");
}

TEST_F(Naming, MainPageNameDiffersOnlyInCase) {
    TLister& list = Make();
    list.AddPicture("http://site.test/INDEX.HTML");
    EXPECT_EQ(list.Pictures()[0].FileName, "index.html");
    list.AddLink("http://site.test/docs/other/index.html", "");
    EXPECT_EQ(list.Pages().back().FileName, "0index.html");
}

TEST_F(Naming, QueryVariantsOfOneNameAndTheirHtmlRenames) {
    TLister& list = Make();
    list.AddLink("http://site.test/p?x=1", "");
    list.AddLink("http://site.test/p?x=2", "");
    EXPECT_EQ(list.Pages()[1].FileName, "p");
    EXPECT_EQ(list.Pages()[2].FileName, "0p");
    ASSERT_TRUE(list.FindFirst());
    list.RenameCurrentAsHtml();
    EXPECT_EQ(list.CurrentFileName(), "p.htm");
    list.SetCurrentState(stSavedText);
    ASSERT_TRUE(list.FindNext());
    list.RenameCurrentAsHtml();
    EXPECT_EQ(list.CurrentFileName(), "0p.htm");
}

TEST_F(Naming, FolderAddressGetsGeneratedNameAndHtmlExtension) {
    TLister& list = Make();
    list.AddLink("http://site.test/dir/", "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_EQ(list.CurrentFileName(), "f0");
    list.RenameCurrentAsHtml();
    EXPECT_EQ(list.CurrentFileName(), "f0.htm");
}

TEST_F(Naming, HtmlRenameOnlyInThePagesPhase) {
    Settings.ShowPictures = true;
    TLister& list = Make();
    list.AddPicture("http://site.test/readme.txt");
    ASSERT_TRUE(list.FindFirst());
    ASSERT_EQ(list.Phase(), phPictures);
    list.RenameCurrentAsHtml();
    EXPECT_EQ(list.CurrentFileName(), "readme.txt");
}

TEST_F(Naming, RedirectRenamesWithTheOwnOldNameInTheClashPass) {
    TLister& list = Make();
    list.AddLink("http://site.test/x.html", "");
    ASSERT_TRUE(list.FindFirst());
    list.RenameCurrentAfterRedirect("http://elsewhere.test/x.html");
    EXPECT_EQ(list.CurrentFileName(), "0x.html");
    EXPECT_EQ(list.CurrentURL(), "http://site.test/x.html");
    list.RenameCurrentAfterRedirect("http://elsewhere.test/y.php?a=b#frag");
    EXPECT_EQ(list.CurrentFileName(), "y.php");
}

TEST_F(Naming, RepeatedPassNeverLeavesTwoItemsWithOneName) {
    TLister& list = Make();
    list.AddLink("http://site.test/0a.htm", ""); // an item literally named 0a.htm first
    list.AddLink("http://site.test/a.htm", "");
    // the single pass would pass 0a.htm, meet a.htm and produce 0a.htm
    const std::string name = list.MakeUniqueName("a.htm");
    EXPECT_EQ(name, "10a.htm");
    for (const TListerItem& item : list.Pages())
        EXPECT_NE(item.FileName, name);
}

TEST_F(Naming, DotNamesAndTheLogNameAreNeverReturned) {
    TLister& list = Make();
    EXPECT_EQ(list.MakeUniqueName("."), "f0");
    EXPECT_EQ(list.MakeUniqueName(" .. "), "f1");
    EXPECT_EQ(list.MakeUniqueName("LKSPL.LOG"), "2lkspl.log");
    EXPECT_EQ(list.MakeUniqueName("..."), "...");
}

TEST_F(Naming, RefusedDuplicatesStillConsumeCounterValues) {
    TLister& list = Make();
    list.AddPicture("http://site.test/");
    list.AddPicture("http://site.test/"); // refused, but its name was made first
    list.AddPicture("http://site.test/img/");
    ASSERT_EQ(list.Pictures().size(), 2u);
    EXPECT_EQ(list.Pictures()[0].FileName, "f0");
    EXPECT_EQ(list.Pictures()[1].FileName, "f2");
}
