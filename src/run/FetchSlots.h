#pragma once

// The requests of a download run that are in flight at once: one HTTP
// component per request, sharing one session (connections, cookies), kept
// and reused for the whole run, and counted per server so that no server
// gets more than the run allows, as browsers do.
//
// A Fetch is one item's request and what it brought: its body goes to a
// temporary file in the output folder as it arrives, and the run takes it
// over (renames it into place) or drops it when it reaches the item.

#include "http/AdvHttp.h"
#include "lister/ListerTypes.h"
#include "platform/PendingFile.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace larkspool {

struct Fetch {
    using Clock = std::chrono::steady_clock;

    TListerPhase Phase = phPages;
    std::size_t Index = 0;
    std::string URL;
    std::string Host; // what the per-server count goes by

    int Slot = -1;                      // the component, while the request is in flight
    bool Done = false;                  // over: answered, failed, refused or given up
    std::string NotFetched;             // refused or given up before it was whole: why
    std::string RequestError;           // failed without an answer (no server...): why
    std::string Failure;                // answered, but not with the item: why
    std::string StoreError;             // the body could not be written to the disk
    std::vector<std::string> Redirects; // not yet applied to the list
    std::vector<std::string> Headers;
    PendingFile Body;
    std::int64_t Received = 0;         // bytes on the wire
    std::uint64_t CredentialsSeen = 0; // the prompt's answers when it was sent
    Clock::time_point Started, LastHeard;
};

class FetchSlots {
public:
    // What a component reports, with the fetch it works for.
    using Event = std::function<void(Fetch&, TAdvHttp&)>;
    struct Events {
        Event Progress, Redirect, Complete, NeedAuth, Error;
    };

    // Every component takes its settings and session from Prototype.
    FetchSlots(TAdvHttp& Prototype, Events Handlers);
    ~FetchSlots();
    FetchSlots(const FetchSlots&) = delete;
    FetchSlots& operator=(const FetchSlots&) = delete;

    // Whether one more request to Host fits: at most PerHost to one server
    // and Total in all.
    bool HasRoom(std::string_view Host, int PerHost, int Total) const;
    // Starts F's request on a free component, its body going to a temporary
    // file in Folder. Throws when the address is refused or the file cannot
    // be made; F is then not in flight.
    // A body that grows past Limit bytes ends the request (FileError EFBIG).
    void Start(Fetch& F, const std::string& Folder, std::int64_t Limit);
    // Ends F's request, if in flight, without any further event of it.
    void Release(Fetch& F);
    // The answer is in: the component is free again (no more events come).
    void Finished(Fetch& F);

    // Credentials for every component and every request in flight.
    void SetSiteCredentials(const std::string& User, const std::string& Password);
    int InFlight() const { return FInFlight; }

private:
    struct Slot {
        std::unique_ptr<TAdvHttp> Http;
        Fetch* Job = nullptr;
    };
    std::size_t FreeSlot(); // its index; made when none is free
    void Deliver(std::size_t Index, const Event& Handler);

    TAdvHttp& FPrototype;
    Events FHandlers;
    std::vector<std::unique_ptr<Slot>> FSlots;
    std::map<std::string, int, std::less<>> FPerHost;
    int FInFlight = 0;
    std::shared_ptr<TakingTurns> FAuthGate = std::make_shared<TakingTurns>();
};

} // namespace larkspool
