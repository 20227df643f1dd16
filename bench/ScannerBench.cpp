// Throughput of the tag scanner on realistic markup and on hostile input.
#include "scanner/HtmlParser.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

using namespace larkspool;

namespace {

// About Bytes of markup shaped like an article or documentation page: nested
// blocks, paragraphs with inline links, pictures, a few scripts and styles.
std::string RealisticPage(std::size_t Bytes) {
    std::mt19937 rng(42);
    const char* words[] = {"the",     "offline", "copy",  "browses", "saved",  "page",
                           "picture", "style",   "sheet", "link",    "folder", "reader"};
    auto text = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += words[rng() % 12];
            s += ' ';
        }
        return s;
    };
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
                       "<title>Reference</title>\n"
                       "<link rel=\"stylesheet\" href=\"/css/site.css\" type=\"text/css\">\n"
                       "<script src=\"/js/app.js\"></script></head>\n<body class=\"doc\">\n";
    int n = 0;
    while (page.size() < Bytes) {
        ++n;
        page += "<div class=\"section\" id=\"s" + std::to_string(n) + "\">\n<h2>" + text(4) +
                "</h2>\n<p>" + text(12) + "<a href=\"/docs/page" + std::to_string(n) +
                ".html\" title=\"" + text(2) + "\">" + text(3) + "</a> " + text(10) + "<b>" +
                text(2) + "</b>, " + text(8) + "</p>\n";
        if (n % 3 == 0)
            page += "<img src=\"/img/fig" + std::to_string(n) +
                    ".png\" width=\"640\" height=\"480\" alt=\"" + text(3) + "\">\n";
        if (n % 7 == 0)
            page += "<ul><li><a href='#s" + std::to_string(n - 1) + "'>" + text(2) +
                    "</a></li><li><a href=\"https://example.org/x?id=" + std::to_string(n) +
                    "&amp;v=2\">" + text(2) + "</a></li></ul>\n";
        if (n % 25 == 0)
            page += "<script>var s = '<a href=\"no.html\">' + x; if (a < b) { f(); }</script>\n";
        page += "</div>\n";
    }
    page += "</body></html>\n";
    return page;
}

std::string Hostile(std::size_t Bytes) {
    std::string page;
    while (page.size() < Bytes)
        page += "<a href=";
    return page;
}

void Scan(benchmark::State& state, const std::string& page) {
    std::size_t chunks = 0;
    for (auto _ : state) {
        THTMLParser p = THTMLParser::CreateFromText(page.c_str());
        while (p.Next())
            ++chunks;
        benchmark::DoNotOptimize(chunks);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
    state.counters["chunks"] =
        static_cast<double>(chunks) / static_cast<double>(state.iterations());
}

void BM_ScanRealistic10MB(benchmark::State& state) {
    static const std::string page = RealisticPage(10 << 20);
    Scan(state, page);
}
BENCHMARK(BM_ScanRealistic10MB)->Unit(benchmark::kMillisecond);

void BM_ScanHostile1MB(benchmark::State& state) {
    static const std::string page = Hostile(1 << 20);
    Scan(state, page);
}
BENCHMARK(BM_ScanHostile1MB)->Unit(benchmark::kMillisecond);

void BM_ScanHostileUnclosedQuotes1MB(benchmark::State& state) {
    static const std::string page = [] {
        std::string s;
        while (s.size() < (1 << 20))
            s += "<img src=\"";
        return s + ">";
    }();
    Scan(state, page);
}
BENCHMARK(BM_ScanHostileUnclosedQuotes1MB)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
