#pragma once

// A download list over an in-memory browser window, with a fresh output
// folder and settings at their start values for every test.

#include "browser/MemoryObjects.h"
#include "lister/Lister.h"
#include "tools/ProcessValues.h"
#include "tools/Settings.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
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
        std::filesystem::create_directory(Folder);
        OutputFolder = Folder + "/";
        Settings = TSettings{};
        Page.Url = "http://site.test/docs/index.html";
        Page.Title = "Docs";
    }

    TLister& Make() {
        Lister = std::make_unique<TLister>(Variant(MakeMemoryWindow(Page)));
        return *Lister;
    }

    void WriteFile(const std::string& Name, const std::string& Bytes) const {
        Temp.Write("out/" + Name, Bytes);
    }
    std::string ReadFile(const std::string& Name) const { return Temp.Read("out/" + Name); }

    // The output folder is a subfolder, so that what a test puts beside it
    // (Folder + "-outside.log") goes with it too.
    TempFolder Temp{"larkspool-lister"};
    const std::string Folder = Temp.File("out");
    MemoryPage Page;
    std::unique_ptr<TLister> Lister;
};

} // namespace larkspool::check
