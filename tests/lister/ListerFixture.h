#pragma once

// A download list over an in-memory browser window, with a fresh output
// folder and settings at their start values for every test.

#include "browser/MemoryObjects.h"
#include "lister/Lister.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace larkspool::check {

// The addresses of a list's items, in order.
inline std::vector<std::string> URLs(const std::vector<TListerItem>& List) {
    std::vector<std::string> urls;
    for (const TListerItem& item : List)
        urls.push_back(item.URL);
    return urls;
}

class ListerTest : public ::testing::Test {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/larkspool-lister-XXXXXX";
        Folder = ::mkdtemp(tmpl);
        OutputFolder = Folder + "/";
        Settings = TSettings{};
        Page.Url = "http://site.test/docs/index.html";
        Page.Title = "Docs";
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    TLister& Make() {
        Lister = std::make_unique<TLister>(Variant(MakeMemoryWindow(Page)));
        return *Lister;
    }

    void WriteFile(const std::string& Name, const std::string& Bytes) const {
        std::ofstream(OutputFolder + Name, std::ios::binary) << Bytes;
    }
    std::string ReadFile(const std::string& Name) const {
        std::ifstream in(OutputFolder + Name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string Folder;
    MemoryPage Page;
    std::unique_ptr<TLister> Lister;
};

} // namespace larkspool::check
