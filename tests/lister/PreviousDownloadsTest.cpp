#include "ListerFixture.h"

#include "lister/PreviousDownloadsLog.h"

#include <sys/stat.h>

using namespace larkspool;
using PreviousDownloads = larkspool::check::ListerTest;

namespace {

std::string Record(unsigned char UrlLength, const std::string& Url, unsigned char NameLength,
                   const std::string& Name) {
    std::string r(152, '\0');
    r[0] = static_cast<char>(UrlLength);
    r.replace(1, std::min<std::size_t>(Url.size(), 100), Url.substr(0, 100));
    r[101] = static_cast<char>(NameLength);
    r.replace(102, std::min<std::size_t>(Name.size(), 50), Name.substr(0, 50));
    return r;
}

std::string Record(const std::string& Url, const std::string& Name) {
    return Record(static_cast<unsigned char>(Url.size()), Url,
                  static_cast<unsigned char>(Name.size()), Name);
}

} // namespace

TEST(PreviousDownloadsLog, RecordLayoutIsFixed) {
    const std::string bytes = EncodePreviousDownloads({{"http://h/a.htm", "a.htm"}});
    EXPECT_EQ(bytes, Record("http://h/a.htm", "a.htm"));
    const auto back = DecodePreviousDownloads(bytes + Record("http://h/b", "b.htm"));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].URL, "http://h/b");
    EXPECT_EQ(back[1].FileName, "b.htm");
    EXPECT_TRUE(DecodePreviousDownloads("").empty());
}

TEST(PreviousDownloadsLog, LongTextsAreCutToTheirFields) {
    const std::string url(130, 'u'), name(70, 'n');
    const auto back = DecodePreviousDownloads(EncodePreviousDownloads({{url, name}}));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].URL, url.substr(0, 100));
    EXPECT_EQ(back[0].FileName, name.substr(0, 50));
}

TEST(PreviousDownloadsLog, DamagedRecordsNeverReadPastTheirFields) {
    std::string bytes = Record(255, std::string(100, 'u'), 200, std::string(50, 'n'));
    bytes += std::string(151, 'x'); // a cut record at the end
    const auto back = DecodePreviousDownloads(bytes);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].URL, std::string(100, 'u'));
    EXPECT_EQ(back[0].FileName, std::string(50, 'n'));
}

TEST(PreviousDownloadsLog, OnlyPlainNamesOfTheFolderItself) {
    EXPECT_TRUE(IsPlainLogFileName("a.htm"));
    EXPECT_TRUE(IsPlainLogFileName("..."));
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "../x", "a/b", "a\\b", std::string("a\0b", 3)})
        EXPECT_FALSE(IsPlainLogFileName(bad)) << bad;
}

TEST_F(PreviousDownloads, SaveWritesOnlyThisSavesTextItemsInListOrder) {
    Settings.ShowPictures = true;
    WriteFile("lkspl.log", Record("http://site.test/old.htm", "old.htm"));
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    list.AddLink("http://site.test/b.htm", "");
    list.AddPicture("http://site.test/t.txt");
    list.AddStylesheet("http://site.test/s.css");
    ASSERT_TRUE(list.FindFirst());
    list.SetCurrentState(stSavedText);
    ASSERT_TRUE(list.FindNext());
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    list.SetCurrentState(stSavedText); // a text file among the pictures
    ASSERT_TRUE(list.FindNext());
    list.SetCurrentState(stSavedText);
    list.SavePreviousDownloads();
    EXPECT_EQ(ReadFile("lkspl.log"), Record("http://site.test/a.htm", "a.htm") +
                                         Record("http://site.test/t.txt", "t.txt") +
                                         Record("http://site.test/s.css", "s.css"));
}

TEST_F(PreviousDownloads, EmptyLogFileIsValid) {
    WriteFile("lkspl.log", "");
    TLister& list = Make();
    EXPECT_TRUE(list.PreviousDownloads().empty());
    list.SavePreviousDownloads();
    EXPECT_EQ(ReadFile("lkspl.log"), "");
}

TEST_F(PreviousDownloads, FailedSaveLeavesNoTemporaryFileAndRaises) {
    TLister& list = Make();
    std::filesystem::create_directory(OutputFolder + "lkspl.log"); // cannot be replaced
    EXPECT_THROW(list.SavePreviousDownloads(), std::system_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Folder), {}), 1);
}

TEST_F(PreviousDownloads, TakesOverTheFirstRecordWhoseFileStillExists) {
    Settings.SaveExistF = true;
    WriteFile("lkspl.log", Record("http://site.test/a.htm", "gone.htm") +
                               Record("http://site.test/a.htm", "kept.htm") +
                               Record("http://site.test/a.htm", "later.htm"));
    WriteFile("kept.htm", "x");
    WriteFile("later.htm", "x");
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_TRUE(list.FindPreviousDownload());
    EXPECT_EQ(list.CurrentFileName(), "kept.htm");
    // the taken name now counts in the clash pass
    EXPECT_EQ(list.MakeUniqueName("kept.htm"), "0kept.htm");
}

TEST_F(PreviousDownloads, NothingIsTakenOverWithTheOptionOffOrAnExactMismatch) {
    WriteFile("lkspl.log",
              Record("http://site.test/a.htm", "a.htm") +
                  Record(std::string("http://site.test/") + std::string(103, 'h'), "long.htm"));
    WriteFile("a.htm", "x");
    WriteFile("long.htm", "x");
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    list.AddLink("http://site.test/A.htm", "");
    list.AddLink(std::string("http://site.test/") + std::string(103, 'h'), "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_FALSE(list.FindPreviousDownload()); // option off
    Settings.SaveExistF = true;
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    EXPECT_FALSE(list.FindPreviousDownload()); // letter case differs
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    EXPECT_FALSE(list.FindPreviousDownload()); // the logged address was cut
}

TEST_F(PreviousDownloads, HostileLogCannotPointOutsideTheFolderOrAtAnotherItemsFile) {
    Settings.SaveExistF = true;
    std::filesystem::create_directory(Folder + "/sub");
    WriteFile("sub/x.htm", "x");
    WriteFile("other.htm", "x");
    const std::string url = "http://site.test/a.htm";
    WriteFile("lkspl.log",
              Record(url, "../" + Folder.substr(Folder.rfind('/') + 1) + "/other.htm") +
                  Record(url, "sub/x.htm") + Record(url, "sub\\x.htm") + Record(url, "..") +
                  Record(url, ".") + Record(url, "") + Record(url, std::string("other.htm\0", 10)) +
                  Record(url, "INDEX.HTML") + Record(url, "b.htm"));
    WriteFile("INDEX.HTML", "x");
    WriteFile("b.htm", "x");
    TLister& list = Make();
    list.AddLink("http://site.test/b.htm", ""); // carries b.htm
    list.AddLink(url, "");
    ASSERT_TRUE(list.FindFirst());
    list.SetCurrentState(stSkipped);
    ASSERT_TRUE(list.FindNext());
    ASSERT_EQ(list.CurrentURL(), url);
    EXPECT_FALSE(list.FindPreviousDownload());
    EXPECT_EQ(list.CurrentFileName(), "a.htm");
}

TEST_F(PreviousDownloads, ScannedLocalNamesMapBackThroughTheLog) {
    Settings.SaveExistF = true;
    Settings.ShowPictures = true;
    WriteFile("lkspl.log", Record("http://site.test/img/here.gif", "here.gif") +
                               Record("http://site.test/img/gone.gif", "gone.gif"));
    WriteFile("here.gif", "GIF");
    TLister& list = Make();
    list.AddLink("http://site.test/docs/p.htm", "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_EQ(list.ResolveScannedLink("\"here.gif\""), "");
    EXPECT_EQ(list.ResolveScannedLink("\"gone.gif\""), "http://site.test/img/gone.gif");
    EXPECT_EQ(list.ResolveScannedLink("'here.gif'"), "http://site.test/docs/here.gif");
    EXPECT_EQ(list.ResolveScannedLink("here.gif"), "http://site.test/docs/here.gif");
    Settings.SaveExistF = false;
    EXPECT_EQ(list.ResolveScannedLink("\"here.gif\""), "http://site.test/docs/here.gif");
}

TEST_F(PreviousDownloads, LogIsReadWhateverTheOptionSays) {
    WriteFile("lkspl.log", Record("http://site.test/a.htm", "a.htm"));
    TLister& list = Make();
    ASSERT_EQ(list.PreviousDownloads().size(), 1u);
    EXPECT_EQ(list.PreviousDownloads()[0].FileName, "a.htm");
}

// What the folder holds under the log's name is not trusted: only a regular
// file of bounded size is read. Anything else is left aside with a reason,
// and the list is made all the same.
TEST_F(PreviousDownloads, LinkedLogIsNotReadAndTheListIsStillMade) {
    const std::string outside = Folder + "-outside.log";
    std::ofstream(outside, std::ios::binary) << Record("http://site.test/a.htm", "a.htm");
    std::filesystem::create_symlink(outside, OutputFolder + "lkspl.log");
    TLister& list = Make();
    std::filesystem::remove(outside);
    EXPECT_TRUE(list.PreviousDownloads().empty());
    EXPECT_EQ(list.LogProblem(), "The previous-downloads log \"" + OutputFolder +
                                     "lkspl.log\" was not read: it is a symbolic link; nothing "
                                     "is taken over from an earlier save");
    EXPECT_EQ(list.Pages().size(), 1u);
}

TEST_F(PreviousDownloads, FolderOrOverLargeFileAsTheLogIsNotRead) {
    std::filesystem::create_directory(OutputFolder + "lkspl.log");
    EXPECT_TRUE(Make().PreviousDownloads().empty());
    EXPECT_NE(Lister->LogProblem().find("it is a folder"), std::string::npos);
    std::filesystem::remove(OutputFolder + "lkspl.log");

    // Far more records than any save writes; sparse, so it costs no room.
    WriteFile("lkspl.log", Record("http://site.test/a.htm", "a.htm"));
    std::filesystem::resize_file(OutputFolder + "lkspl.log", std::uintmax_t(1) << 30);
    EXPECT_TRUE(Make().PreviousDownloads().empty());
    EXPECT_NE(Lister->LogProblem().find("it is larger than"), std::string::npos);

    std::filesystem::resize_file(OutputFolder + "lkspl.log", 152);
    EXPECT_EQ(Make().PreviousDownloads().size(), 1u);
    EXPECT_EQ(Lister->LogProblem(), "");
}

// A FIFO would block the open for ever, /dev/zero fill the memory.
TEST_F(PreviousDownloads, FifoOrDeviceAsTheLogIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo((OutputFolder + "lkspl.log").c_str(), 0600), 0);
    EXPECT_TRUE(Make().PreviousDownloads().empty());
    EXPECT_NE(Lister->LogProblem().find("it is not a regular file"), std::string::npos);
    std::filesystem::remove(OutputFolder + "lkspl.log");
    std::filesystem::create_symlink("/dev/zero", OutputFolder + "lkspl.log");
    EXPECT_TRUE(Make().PreviousDownloads().empty());
    EXPECT_NE(Lister->LogProblem().find("it is a symbolic link"), std::string::npos);
}

// sym.html -> ../secret.html: taking it over would copy a file from outside
// the folder into the copy (the relinker reads and rewrites it).
TEST_F(PreviousDownloads, LoggedNameThatIsALinkIsNeverTakenOver) {
    Settings.SaveExistF = true;
    const std::string secret = Folder + "-secret.html";
    std::ofstream(secret) << "secret";
    std::filesystem::create_symlink(secret, OutputFolder + "sym.html");
    std::filesystem::create_symlink(secret, OutputFolder + "sym.gif");
    WriteFile("lkspl.log", Record("http://site.test/a.htm", "sym.html") +
                               Record("http://site.test/img/sym.gif", "sym.gif"));
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_FALSE(list.FindPreviousDownload());
    EXPECT_EQ(list.CurrentFileName(), "a.htm");
    // a scanned reference to the link is fetched again from its address
    EXPECT_EQ(list.ResolveScannedLink("\"sym.gif\""), "http://site.test/img/sym.gif");
    EXPECT_EQ(list.ResolveScannedLink("\"sym.html\""), "http://site.test/a.htm");
    std::filesystem::remove(secret);
}

// A page must never link to (or be stored as) the log or the folder lock.
TEST_F(PreviousDownloads, LoggedNamesOfTheProgramsOwnFilesAreNeverTakenOver) {
    Settings.SaveExistF = true;
    WriteFile("lkspl.log", Record("http://site.test/a.htm", "lkspl.log") +
                               Record("http://site.test/a.htm", ".larkspool.lock"));
    WriteFile(".larkspool.lock", "");
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    ASSERT_TRUE(list.FindFirst());
    EXPECT_FALSE(list.FindPreviousDownload());
    EXPECT_EQ(list.CurrentFileName(), "a.htm");
    // a page that links to such a name gets the address, never the file
    EXPECT_EQ(list.ResolveScannedLink("\"lkspl.log\""), "http://site.test/a.htm");
    EXPECT_EQ(list.ResolveScannedLink("\".larkspool.lock\""), "http://site.test/a.htm");
    EXPECT_FALSE(IsPlainLogFileName("lkspl.log"));
    EXPECT_FALSE(IsPlainLogFileName(".larkspool.lock"));
}

// The log is replaced by a new file: a link planted under its name is
// replaced, and what it points to is left as it was.
TEST_F(PreviousDownloads, SaveReplacesALinkPlantedAsTheLog) {
    const std::string outside = Folder + "-outside.txt";
    std::ofstream(outside) << "keep";
    std::filesystem::create_symlink(outside, OutputFolder + "lkspl.log");
    TLister& list = Make();
    list.AddLink("http://site.test/a.htm", "");
    ASSERT_TRUE(list.FindFirst());
    list.SetCurrentState(stSavedText);
    list.SavePreviousDownloads();
    EXPECT_FALSE(std::filesystem::is_symlink(OutputFolder + "lkspl.log"));
    EXPECT_EQ(ReadFile("lkspl.log"), Record("http://site.test/a.htm", "a.htm"));
    std::ifstream in(outside);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    std::filesystem::remove(outside);
}
