#include "run/FetchSlots.h"

namespace larkspool {

FetchSlots::FetchSlots(TAdvHttp& Prototype, Events Handlers)
    : FPrototype(Prototype), FHandlers(std::move(Handlers)) {}

FetchSlots::~FetchSlots() {
    for (const auto& slot : FSlots)
        slot->Http->Abort();
}

bool FetchSlots::HasRoom(std::string_view Host, int PerHost, int Total) const {
    if (FInFlight >= Total)
        return false;
    const auto it = FPerHost.find(Host);
    return it == FPerHost.end() || it->second < PerHost;
}

std::size_t FetchSlots::FreeSlot() {
    for (std::size_t i = 0; i < FSlots.size(); ++i)
        if (!FSlots[i]->Job)
            return i;
    const std::size_t index = FSlots.size();
    auto slot = std::make_unique<Slot>();
    slot->Http = std::make_unique<TAdvHttp>();
    TAdvHttp& http = *slot->Http;
    http.ShareSessionOf(FPrototype);
    http.AuthGate = FAuthGate;
    http.ConnectTimeout = FPrototype.ConnectTimeout;
    http.Method = FPrototype.Method;
    http.AuthRetries = FPrototype.AuthRetries;
    http.DefaultUi = FPrototype.DefaultUi;
    http.SetInternetFlags(FPrototype.InternetFlags());
    http.SetUserName(FPrototype.UserName());
    http.SetPassword(FPrototype.Password());
    http.SetProxyUserName(FPrototype.ProxyUserName());
    http.SetProxyPassword(FPrototype.ProxyPassword());
    http.OnResponseReceived = [this, index](TAdvHttp&) { Deliver(index, FHandlers.Progress); };
    http.OnRedirect = [this, index](TAdvHttp&) { Deliver(index, FHandlers.Redirect); };
    http.OnRequestComplete = [this, index](TAdvHttp&) { Deliver(index, FHandlers.Complete); };
    http.OnNeedAuth = [this, index](TAdvHttp&) { Deliver(index, FHandlers.NeedAuth); };
    http.OnError = [this, index](TAdvHttp&) { Deliver(index, FHandlers.Error); };
    FSlots.push_back(std::move(slot));
    return index;
}

void FetchSlots::Deliver(std::size_t Index, const Event& Handler) {
    Slot& slot = *FSlots[Index];
    if (slot.Job && Handler)
        Handler(*slot.Job, *slot.Http);
}

void FetchSlots::Start(Fetch& F, const std::string& Folder, std::int64_t Limit) {
    const std::size_t index = FreeSlot();
    Slot& slot = *FSlots[index];
    TAdvHttp& http = *slot.Http;
    // The component refuses some addresses outright (another scheme, parts
    // too long); nothing is sent then.
    http.SetURL(F.URL);
    F.Body.Open(Folder, Folder);
    http.SetResponseFile(F.Body.Fd(), Limit);
    F.Started = F.LastHeard = Fetch::Clock::now();
    F.Slot = static_cast<int>(index);
    slot.Job = &F;
    ++FInFlight;
    ++FPerHost[F.Host];
    try {
        http.Execute(false);
    } catch (...) {
        Release(F);
        throw;
    }
}

void FetchSlots::Finished(Fetch& F) {
    if (F.Slot < 0)
        return;
    Slot& slot = *FSlots[static_cast<std::size_t>(F.Slot)];
    slot.Http->SetResponseFile(-1);
    slot.Job = nullptr;
    F.Slot = -1;
    --FInFlight;
    const auto it = FPerHost.find(F.Host);
    if (it != FPerHost.end() && --it->second <= 0)
        FPerHost.erase(it);
}

void FetchSlots::Release(Fetch& F) {
    if (F.Slot < 0)
        return;
    FSlots[static_cast<std::size_t>(F.Slot)]->Http->Abort();
    Finished(F);
}

void FetchSlots::SetSiteCredentials(const std::string& User, const std::string& Password) {
    FPrototype.SetUserName(User);
    FPrototype.SetPassword(Password);
    for (const auto& slot : FSlots) {
        slot->Http->SetUserName(User);
        slot->Http->SetPassword(Password);
    }
}

} // namespace larkspool
