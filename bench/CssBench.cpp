// Finding and rewriting the addresses of style sheets: a site's worth of
// realistic sheets, and hostile text that must stay linear.
#include "scanner/CssReferences.h"

#include <benchmark/benchmark.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace larkspool;

namespace {

// About Bytes of CSS shaped like a site's sheet: an import or two, fonts,
// many rules with several declarations, media blocks, comments, some
// pictures (a few as data: addresses) and strings.
std::string RealisticSheet(std::size_t Bytes, unsigned Seed) {
    std::mt19937 rng(Seed);
    const char* names[] = {"header", "nav",  "menu",  "item",   "card",  "title",
                           "button", "grid", "panel", "footer", "badge", "link"};
    const char* props[] = {"color: #333",
                           "margin: 0 auto",
                           "padding: 4px 8px 4px 8px",
                           "font-size: 1.125rem",
                           "line-height: 1.5",
                           "display: flex",
                           "border: 1px solid rgba(0, 0, 0, .12)",
                           "transition: opacity .2s ease-in-out, transform .2s",
                           "box-shadow: 0 1px 2px rgba(0,0,0,.2), inset 0 0 0 1px #fff",
                           "width: calc(100% - 2 * var(--gap, 16px))"};
    auto name = [&] { return std::string(names[rng() % 12]); };
    std::string css = "@charset \"utf-8\";\n@import url(\"reset.css\");\n"
                      "@import 'print.css' print;\n"
                      "@font-face { font-family: \"Body\"; font-display: swap;\n"
                      "  src: url(fonts/body.woff2) format(\"woff2\"), url('fonts/body.woff') "
                      "format('woff'); }\n";
    int n = 0;
    while (css.size() < Bytes) {
        ++n;
        if (n % 9 == 0)
            css += "/* " + name() + " -- the " + name() + " part of the " + name() +
                   " block; see url(old.png) */\n";
        if (n % 40 == 0)
            css += "@media (max-width: 768px) {\n";
        css += "." + name() + "-" + std::to_string(n) + " > ." + name() + ":hover, #" + name() +
               " ." + name() + "::before {\n";
        const int count = 2 + static_cast<int>(rng() % 6);
        for (int i = 0; i < count; ++i)
            css += std::string("  ") + props[rng() % 10] + ";\n";
        if (n % 4 == 0)
            css += "  background: #fff url(../img/" + name() + "-" + std::to_string(n) +
                   ".png) no-repeat 0 0 / cover;\n";
        if (n % 11 == 0)
            css += "  background-image: url(\"https://cdn.example.test/i/" + name() +
                   ".svg?v=" + std::to_string(n) + "\");\n";
        if (n % 17 == 0)
            css += "  content: \"\\201C \" attr(title) \" url(\"; quotes: '\"' '\"';\n";
        if (n % 23 == 0)
            css += "  list-style-image: url(data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///"
                   "yH5BAEAAAAALAAAAAABAAEAAAIBRAA7);\n";
        if (n % 29 == 0)
            css += "  background-image: image-set(\"img/" + name() +
                   ".avif\" type(\"image/avif\"),"
                   " \"img/" +
                   name() + ".jpg\" 1x);\n  cursor: url(cur/hand.cur), pointer;\n";
        css += "}\n";
        if (n % 40 == 39)
            css += "}\n";
    }
    return css;
}

std::optional<std::string> LocalName(const CssReference& Ref) {
    if (Ref.Text.starts_with("data:"))
        return std::nullopt;
    return "local-" + std::to_string(Ref.Start) + ".png";
}

void FindAndRewrite(benchmark::State& state, const std::vector<std::string>& sheets) {
    std::size_t bytes = 0, refs = 0;
    for (const std::string& s : sheets)
        bytes += s.size();
    for (auto _ : state) {
        refs = 0;
        for (const std::string& sheet : sheets) {
            const std::vector<CssReference> found = FindCssReferences(sheet);
            refs += found.size();
            std::string out = RewriteCss(sheet, LocalName);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["refs"] = static_cast<double>(refs);
    state.counters["bytes"] = static_cast<double>(bytes);
}

// A site: 12 sheets of 200 KB.
void BM_FindAndRewrite12Sheets200KB(benchmark::State& state) {
    static const std::vector<std::string> sheets = [] {
        std::vector<std::string> s;
        for (unsigned i = 0; i < 12; ++i)
            s.push_back(RealisticSheet(200 << 10, 100 + i));
        return s;
    }();
    FindAndRewrite(state, sheets);
}
BENCHMARK(BM_FindAndRewrite12Sheets200KB)->Unit(benchmark::kMillisecond);

std::string Repeated(const std::string& Piece, std::size_t Bytes) {
    std::string s;
    while (s.size() < Bytes)
        s += Piece;
    return s;
}

void BM_HostileUnclosedUrls1MB(benchmark::State& state) {
    static const std::vector<std::string> sheets{Repeated("url(", 1 << 20)};
    FindAndRewrite(state, sheets);
}
BENCHMARK(BM_HostileUnclosedUrls1MB)->Unit(benchmark::kMillisecond);

void BM_HostileStringFunctions1MB(benchmark::State& state) {
    static const std::vector<std::string> sheets{Repeated("url(\"a\" ", 1 << 20)};
    FindAndRewrite(state, sheets);
}
BENCHMARK(BM_HostileStringFunctions1MB)->Unit(benchmark::kMillisecond);

void BM_HostileOpenBlocks1MB(benchmark::State& state) {
    static const std::vector<std::string> sheets{Repeated("image-set((['a' ", 1 << 20)};
    FindAndRewrite(state, sheets);
}
BENCHMARK(BM_HostileOpenBlocks1MB)->Unit(benchmark::kMillisecond);

void BM_HostileBadUrlsAndComments1MB(benchmark::State& state) {
    static const std::vector<std::string> sheets{Repeated("url(a b\\) /* \"' url(x \\", 1 << 20)};
    FindAndRewrite(state, sheets);
}
BENCHMARK(BM_HostileBadUrlsAndComments1MB)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
