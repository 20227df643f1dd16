// Whole saves of a small site through the list, the document writer and the
// relinker, with the fetching done from memory: the saved copy must browse
// offline, and saving again into the same folder must not break it.
#include "html/DocumentPages.h"
#include "html/Relinker.h"
#include "html/Replacements.h"
#include "scanner/HtmlParser.h"
#include "tools/UrlHelpers.h"

#include "lister/ListerFixture.h"

#include <map>

using namespace larkspool;
using SaveRoundTrip = larkspool::check::ListerTest;

namespace {

struct Resource {
    bool Text;
    std::string Body;
};
using Site = std::map<std::string, Resource>;

bool IsHtmlName(const std::string& Name) {
    const std::string ext = Name.substr(Name.find_last_of('.') + 1);
    return ext == "htm" || ext == "html";
}

// What the download run does for each item, with the site in memory.
void Save(TLister& List, const Variant& Window, const Site& Web,
          const larkspool::check::ListerTest& Test) {
    SaveDocumentPages(List, Window);
    for (bool more = List.FindFirst(); more; more = List.FindNext()) {
        bool text;
        if (List.FindPreviousDownload()) {
            const std::string name = List.CurrentFileName();
            text = IsHtmlName(name) || name.ends_with(".css");
        } else {
            const auto found = Web.find(List.CurrentURL());
            if (found == Web.end()) {
                List.SetCurrentState(stSkipped);
                continue;
            }
            text = found->second.Text;
            if (text && !IsHtmlName(List.CurrentFileName()))
                List.RenameCurrentAsHtml();
            Test.WriteFile(List.CurrentFileName(), found->second.Body);
        }
        if (text)
            List.ScanCurrentPage();
        List.SetCurrentState(text ? stSavedText : stSavedOther);
    }
    List.SavePreviousDownloads();
    List.ResetToPages();
    while (RelinkNext(List)) {
    }
}

std::map<std::string, std::string> StoredFiles(const std::string& Folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(Folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// Every value in every stored page is a script, a mail link, or a file of
// the folder; and no script is wrapped in another.
void ExpectBrowsesOffline(const std::map<std::string, std::string>& Files) {
    for (const auto& [name, body] : Files) {
        if (!IsHtmlName(name))
            continue;
        THTMLParser parser = THTMLParser::CreateFromBytes(body);
        while (parser.Next()) {
            if (parser.Kind() == tkText)
                continue;
            const std::string value = CleanAttributeValue(parser.Value());
            if (value.starts_with("javascript:")) {
                EXPECT_EQ(value.find("javascript:", 1), std::string::npos) << name << ": " << value;
                EXPECT_EQ(parser.Value().front(), '"');
                continue;
            }
            if (value.starts_with("mailto:"))
                continue;
            EXPECT_EQ(Files.count(StripFragment(value)), 1u) << name << " links to " << value;
        }
    }
}

} // namespace

TEST_F(SaveRoundTrip, SavedCopyBrowsesOfflineAndSavingAgainKeepsIt) {
    Settings.ShowPictures = true;
    StartPageURL = Page.Url;
    Page.Html = "<html><head><meta charset=\"utf-8\"><link rel=stylesheet href=\"../css/site.css\">"
                "</head><body><img src=\"img/logo.gif\"><a href=\"a.htm\">A</a> "
                "<a href='b.php?id=2'>B</a> <a href=c.htm>C</a> "
                "<a href=\"MAILTO:me@site.test\">mail</a> <a href=\"#top\">top</a>"
                "<a name=top></a></body></html>";
    Page.Images = {"http://site.test/docs/img/logo.gif"};
    const Site web = {
        {"http://site.test/docs/a.htm",
         {true, "<html><head><link rel=stylesheet href=\"../css/site.css\"></head><body>"
                "<img src=\"img/pic.png\"><a href=\"b.php?id=2\">B</a>"
                "<a href=\"index.html#top\">home</a><a href=\"http://other.test/x?q='1'\">ext</a>"
                "<a href=#s>s</a></body></html>"}},
        {"http://site.test/docs/b.php?id=2",
         {true, "<html><body><img src=img/logo.gif><a href=\"a.htm\">A</a></body></html>"}},
        {"http://site.test/css/site.css", {true, "body { color: black }"}},
        {"http://site.test/docs/img/logo.gif", {false, "GIF89a logo"}},
        {"http://site.test/docs/img/pic.png", {false, "PNG picture"}},
    };
    const auto saveOnce = [&] {
        const Variant window(MakeMemoryWindow(Page));
        TLister list(window);
        list.AddLink("http://site.test/docs/a.htm", "A");
        list.AddLink("http://site.test/docs/b.php?id=2", "B");
        Save(list, window, web, *this);
        return StoredFiles(Folder);
    };

    const auto first = saveOnce();
    ExpectBrowsesOffline(first);
    EXPECT_EQ(first.at("INDEX.HTML"),
              "<html><head><meta charset=\"utf-8\"><link rel=stylesheet href=\"site.css\">"
              "</head><body><img src=\"logo.gif\"><a href=\"a.htm\">A</a> "
              "<a href=\"b.php.htm\">B</a> <a href=" +
                  NotSelectedReplacement("http://site.test/docs/c.htm") +
                  ">C</a> <a href=\"MAILTO:me@site.test\">mail</a> <a href=\"INDEX.HTML#top\">"
                  "top</a><a name=top></a></body></html>");
    EXPECT_NE(first.at("a.htm").find("<img src=\"pic.png\">"), std::string::npos);

    Settings.SaveExistF = true; // "Do not reload existing files, relink only"
    const auto second = saveOnce();
    ExpectBrowsesOffline(second);
    EXPECT_EQ(second, first);
    const auto third = saveOnce();
    EXPECT_EQ(third, first);
}
