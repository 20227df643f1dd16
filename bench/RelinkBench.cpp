// Relinking a big save: 1,000 stored pages of 500 links each against a list of
// 5,000 items, files on disk included.
#include "browser/MemoryObjects.h"
#include "html/Relinker.h"
#include "lister/Lister.h"
#include "support/TempFolder.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace larkspool;

namespace {

constexpr int kPages = 1000, kPictures = 4000, kLinksPerPage = 500;

std::string PageMarkup(int Page) {
    std::string s = "<html><head><title>Page</title><link rel=stylesheet href=\"/css/missing.css\">"
                    "</head><body>\n";
    for (int k = 0; k < kLinksPerPage; ++k) {
        const int n = (Page * 7 + k * 13) % (kPages + kPictures);
        switch (k % 4) {
        case 0: // a stored page, sometimes with a fragment
            s += "<p>Text of a paragraph <a href=\"p" + std::to_string(n % kPages) + ".html" +
                 (k % 8 == 0 ? "#s" : "") + "\">link</a> more words.</p>\n";
            break;
        case 1: // a stored picture
            s += "<img src=\"/img/i" + std::to_string(n % kPictures) + ".png\" width=10 alt=x>\n";
            break;
        case 2: // a page that was not selected
            s += "<li><a href='/elsewhere/q" + std::to_string(n) + ".html'>other</a></li>\n";
            break;
        default: // a picture on another host
            s += "<img src=http://cdn.test/i" + std::to_string(n) + ".gif>\n";
        }
    }
    return s + "</body></html>\n";
}

void BM_RelinkBigSave(benchmark::State& state) {
    const larkspool::check::TempFolder folder("larkspool-relink-bench");
    OutputFolder = folder.Path() + "/";
    Settings = TSettings{};
    MemoryPage page;
    page.Url = "http://site.test/p0.html";
    TLister list{Variant(MakeMemoryWindow(page))};
    for (int i = 1; i < kPages; ++i)
        list.AddLink("http://site.test/p" + std::to_string(i) + ".html", "");
    for (int i = 0; i < kPictures; ++i)
        list.AddPicture("http://site.test/img/i" + std::to_string(i) + ".png");
    std::vector<std::string> pages;
    for (int i = 0; i < kPages; ++i)
        pages.push_back(PageMarkup(i));

    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bytes = 0;
        for (std::size_t i = 0; i < list.Pages().size(); ++i) {
            std::ofstream(OutputFolder + list.Pages()[i].FileName, std::ios::binary) << pages[i];
            bytes += pages[i].size();
            list.SetStateOf(phPages, i, i == 0 ? stFromDocument : stSavedText);
        }
        for (std::size_t i = 0; i < list.Pictures().size(); ++i)
            list.SetStateOf(phPictures, i, stSavedOther);
        list.ResetToPages();
        state.ResumeTiming();
        while (RelinkNext(list)) {
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RelinkBigSave)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
