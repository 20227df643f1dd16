#include "ListerFixture.h"

#include "lister/LocalNames.h"
#include "platform/AtomicFile.h"
#include "support/Utf8Check.h"

#include <set>

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

TEST_F(Naming, DotNamesAndTheProgramsOwnFilesAreNeverReturned) {
    TLister& list = Make();
    EXPECT_EQ(list.MakeUniqueName("."), "f0");
    EXPECT_EQ(list.MakeUniqueName(" .. "), "f1");
    EXPECT_EQ(list.MakeUniqueName("LKSPL.LOG"), "2lkspl.log");
    EXPECT_EQ(list.MakeUniqueName("..."), "...");
    EXPECT_EQ(list.MakeUniqueName(".Larkspool.Lock"), "3.larkspool.lock");
}

TEST(FitLocalName, CutsBytesAtACharacterBoundaryKeepingTheExtension) {
    EXPECT_EQ(FitLocalName("abcdef.htm", 10), "abcdef.htm");
    EXPECT_EQ(FitLocalName("abcdefg.htm", 10), "abcdef.htm");
    EXPECT_EQ(FitLocalName("abcdefghijk", 10), "abcdefghij"); // no extension
    // "é" is two bytes: a cut inside it drops the whole character.
    EXPECT_EQ(FitLocalName("a\xC3\xA9\xC3\xA9\xC3\xA9.htm", 10), "a\xC3\xA9\xC3\xA9.htm");
    EXPECT_EQ(FitLocalName("abc\xC3\xA9\xC3\xA9.htm", 10), "abc\xC3\xA9.htm");
    // an "extension" too long to be one is cut like the rest of the name
    const std::string longExtension = "a." + std::string(300, 'x');
    EXPECT_EQ(FitLocalName(longExtension), longExtension.substr(0, 255));
    EXPECT_EQ(FitLocalName(".hidden", 4), ".hid"); // a leading dot is no extension
    const std::string multiByte = [] {
        std::string s;
        for (int i = 0; i < 200; ++i)
            s += "\xE2\x82\xAC"; // the euro sign, three bytes
        return s + ".html";
    }();
    const std::string fitted = FitLocalName(multiByte);
    EXPECT_LE(fitted.size(), 255u);
    EXPECT_GE(fitted.size(), 253u);
    EXPECT_TRUE(fitted.ends_with(".html"));
    EXPECT_TRUE(larkspool::check::IsValidUtf8(fitted));
}

// A name longer than the file system takes would lose its item: the store
// fails with "File name too long" and the reference stays broken.
TEST_F(Naming, LongNamesFitTheFileSystemWithTheirExtension) {
    TLister& list = Make();
    const std::string segment = std::string(300, 'a') + ".html";
    list.AddLink("http://site.test/" + segment, "");
    list.AddPicture("http://site.test/" + std::string(300, 'p') + ".png?v=1");
    std::string euros;
    for (int i = 0; i < 100; ++i)
        euros += "%E2%82%AC";
    list.AddLink("http://site.test/" + euros + ".htm", ""); // 900 bytes as written
    list.AddLink("http://site.test/" + std::string(260, 'q'), "");
    const std::vector<std::pair<std::string, std::string>> expected{
        {list.Pages()[1].FileName, ".html"},
        {list.Pages()[2].FileName, ".htm"},
        {list.Pages()[3].FileName, "q"},
        {list.Pictures()[0].FileName, ".png"}};
    for (const auto& [name, ending] : expected) {
        EXPECT_EQ(name.size(), 255u) << name;
        EXPECT_TRUE(name.ends_with(ending)) << name;
        // and the file system takes it, written the way items are stored
        EXPECT_NO_THROW(WriteFileAtomically(OutputFolder + name, "x")) << name;
        EXPECT_EQ(ReadFile(name), "x");
    }
    EXPECT_EQ(list.Pages()[1].FileName, std::string(250, 'a') + ".html");
}

TEST_F(Naming, ManyItemsSharingOneLongNameStayUniqueWithinTheLimit) {
    TLister& list = Make();
    const std::string segment = std::string(300, 'n') + ".html";
    for (int i = 0; i < 150; ++i)
        list.AddLink("http://site.test/" + std::to_string(i) + "/" + segment, "");
    std::set<std::string> names{"INDEX.HTML"};
    for (std::size_t i = 1; i < list.Pages().size(); ++i) {
        const TListerItem& item = list.Pages()[i];
        EXPECT_LE(item.FileName.size(), 255u) << item.FileName;
        EXPECT_TRUE(item.FileName.ends_with(".html")) << item.FileName;
        names.insert(item.FileName);
    }
    EXPECT_EQ(names.size(), list.Pages().size());
    EXPECT_EQ(list.Pages()[2].FileName, "0" + std::string(249, 'n') + ".html");

    // The text rename adds ".htm" within the limit too, still unique.
    ASSERT_TRUE(list.FindFirst());
    do {
        list.RenameCurrentAsHtml();
        list.SetCurrentState(stSavedText);
    } while (list.FindNext());
    names = {"INDEX.HTML"};
    for (std::size_t i = 1; i < list.Pages().size(); ++i) {
        const TListerItem& item = list.Pages()[i];
        EXPECT_LE(item.FileName.size(), 255u) << item.FileName;
        EXPECT_TRUE(item.FileName.ends_with(".htm")) << item.FileName;
        names.insert(item.FileName);
    }
    EXPECT_EQ(names.size(), list.Pages().size());
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
