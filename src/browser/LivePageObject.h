#pragma once

// An object of a page in a real browser: every read, call and write is one
// request to the page (Invoke), which applies the old browser's member rules
// there; only a location's default value, its address, is answered here.

#include "browser/Variant.h"

#include <string>
#include <string_view>
#include <vector>

namespace larkspool {

class LivePageObject : public IDispatchObject {
public:
    explicit LivePageObject(std::string ClassName) : FClassName(std::move(ClassName)) {}

    Variant Get(std::string_view Name) override { return Invoke("get", Name, {}); }
    Variant Call(std::string_view Name, const std::vector<Variant>& Args) override {
        return Invoke("call", Name, Args);
    }
    void Put(std::string_view Name, const Variant& Value) override { Invoke("put", Name, {Value}); }
    Variant DefaultValue() override {
        if (FClassName == "Location")
            return Get("href");
        return IDispatchObject::DefaultValue();
    }
    std::string ClassName() const override { return FClassName; }
    // The page's snapshot of this window's frame, as JSON text (see
    // PageSnapshot.h): one request for all the reads the save makes.
    Variant Snapshot() { return Invoke("snapshot", "", {}); }

protected:
    // Op is "get", "call", "put" or "snapshot".
    virtual Variant Invoke(const char* Op, std::string_view Name,
                           const std::vector<Variant>& Args) = 0;

    const std::string FClassName;
};

} // namespace larkspool
