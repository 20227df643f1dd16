// Building and naming a large download list: a page with 2,000 checked links
// and 5,000 pictures, many of which propose the same local name.
#include "browser/MemoryObjects.h"
#include "lister/Lister.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace larkspool;

namespace {

MemoryPage LargePage(int Links, int Pictures) {
    MemoryPage page;
    page.Url = "http://site.test/docs/index.html";
    page.Title = "Index";
    for (int i = 0; i < Links; ++i) {
        // a third share one name through their query, a third are folders
        const std::string n = std::to_string(i);
        const std::string href = i % 3 == 0   ? "http://site.test/page.php?id=" + n
                                 : i % 3 == 1 ? "http://site.test/docs/" + n + "/"
                                              : "http://site.test/docs/p" + n + ".html";
        page.Links.push_back({href, "Link " + n});
    }
    for (int i = 0; i < Pictures; ++i) {
        // every folder has its own icon.png, spacer.gif and a unique picture
        const std::string n = std::to_string(i / 3);
        const char* names[] = {"icon.png", "spacer.gif", "photo.jpg"};
        page.Images.push_back("http://site.test/img/" + n + "/" + names[i % 3]);
    }
    return page;
}

void BM_BuildAndNameList(benchmark::State& state) {
    const MemoryPage page = LargePage(2000, 5000);
    Settings = TSettings{};
    Settings.Extensions = "zip exe rar mp3 arj";
    OutputFolder = "/nonexistent-larkspool-bench/";
    std::size_t items = 0;
    for (auto _ : state) {
        const Variant window(MakeMemoryWindow(page));
        TLister list(window);
        for (const MemoryPage::Link& link : page.Links)
            list.AddLink(link.Href, link.Text);
        items = list.Pages().size() + list.Pictures().size();
        benchmark::DoNotOptimize(items);
    }
    state.counters["items"] = static_cast<double>(items);
}
BENCHMARK(BM_BuildAndNameList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
