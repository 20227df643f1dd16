// The WinInet functions of the layer, over the engine. Every failing call
// sets the thread's last error.

#include "platform/wininet/ProxyAndTls.h"
#include "platform/wininet/ResponseHead.h"
#include "platform/wininet/TrustedCa.h"
#include "platform/wininet/WinInet.h"
#include "platform/wininet/WinInetEngine.h"

#include <cstdlib>
#include <cstring>

namespace larkspool {

using wininet::ConnectionObject;
using wininet::Engine;
using wininet::FALSE;
using wininet::HandleKind;
using wininet::HandleObject;
using wininet::InternetObject;
using wininet::RequestObject;
using wininet::RequestState;
using wininet::TRUE;

namespace {

std::mutex caLock;
std::string caFile;
std::atomic<CredentialsPrompt> prompt{nullptr};

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;
constexpr DWORD HTTP_QUERY_MODIFIER_FLAGS_MASK = 0xF0000000;
constexpr DWORD HTTP_QUERY_FLAG_REQUEST_HEADERS = 0x80000000;
constexpr DWORD HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000;
constexpr DWORD HTTP_QUERY_VERSION = 18;
constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
constexpr DWORD HTTP_QUERY_RAW_HEADERS = 21;
constexpr DWORD HTTP_QUERY_CUSTOM = 65535;

// Query levels that name one response header.
struct NamedLevel {
    DWORD Level;
    const char* Name;
};
constexpr NamedLevel NamedLevels[] = {
    {1, "Content-Type"},      {5, "Content-Length"},      {9, "Date"},        {11, "Last-Modified"},
    {23, "Connection"},       {29, "Content-Encoding"},   {33, "Location"},   {37, "Server"},
    {40, "WWW-Authenticate"}, {41, "Proxy-Authenticate"}, {43, "Set-Cookie"},
};

BOOL Fail(DWORD Error) {
    SetLastError(Error);
    return FALSE;
}

template <class T> std::shared_ptr<T> Lookup(HINTERNET Handle, HandleKind Kind) {
    std::shared_ptr<HandleObject> object = Engine::Get().Find(Handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (object->Kind != Kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

// Waits for the operation of a synchronous call to complete (its notices are
// delivered by then).
BOOL WaitForCompletion(RequestObject& Request, std::uint64_t Generation) {
    std::unique_lock lock(Request.Lock);
    Request.Changed.wait(lock, [&] {
        return Request.Completed || Request.Closed || Request.Generation != Generation;
    });
    if (!Request.Completed || Request.Closed || Request.Generation != Generation)
        return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (!Request.Result)
        SetLastError(Request.Error);
    return Request.Result;
}

BOOL AnswerText(const std::string& Text, LPVOID Buffer, DWORD* BufferLength) {
    DWORD needed = static_cast<DWORD>(Text.size() + 1);
    if (Buffer == nullptr || *BufferLength < needed) {
        *BufferLength = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(Buffer, Text.c_str(), needed);
    *BufferLength = needed - 1;
    return TRUE;
}

} // namespace

void SetTrustedCaFile(std::string Path) {
    std::lock_guard lock(caLock);
    caFile = std::move(Path);
}

void SetCredentialsPrompt(CredentialsPrompt Prompt) {
    prompt.store(Prompt);
}

HINTERNET InternetOpenA(const char* Agent, DWORD AccessType, const char* Proxy, const char*,
                        DWORD Flags) {
    auto internet = std::make_shared<InternetObject>();
    internet->Agent = Agent != nullptr ? Agent : "";
    internet->Async = (Flags & INTERNET_FLAG_ASYNC) != 0;
    switch (AccessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
        internet->AccessType = INTERNET_OPEN_TYPE_PRECONFIG;
        break;
    case INTERNET_OPEN_TYPE_DIRECT:
        internet->AccessType = INTERNET_OPEN_TYPE_DIRECT;
        break;
    case INTERNET_OPEN_TYPE_PROXY:
        if (Proxy == nullptr || *Proxy == '\0') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        internet->AccessType = INTERNET_OPEN_TYPE_PROXY;
        internet->Proxies = wininet::ParseProxyList(Proxy);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    {
        std::lock_guard lock(caLock);
        internet->CaFile = caFile;
    }
    if (internet->CaFile.empty()) {
        const char* fromEnvironment = std::getenv("LARKSPOOL_CA_FILE");
        if (fromEnvironment != nullptr)
            internet->CaFile = fromEnvironment;
    }
    return Engine::Get().Register(std::move(internet));
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET Internet,
                                                   INTERNET_STATUS_CALLBACK Callback) {
    std::shared_ptr<HandleObject> object = Engine::Get().Find(Internet);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INTERNET_INVALID_STATUS_CALLBACK;
    }
    return object->Callback.exchange(Callback);
}

HINTERNET InternetConnectA(HINTERNET Internet, const char* ServerName, INTERNET_PORT ServerPort,
                           const char* UserName, const char* Password, DWORD Service, DWORD,
                           DWORD_PTR Context) {
    auto internet = Lookup<InternetObject>(Internet, HandleKind::Internet);
    if (!internet)
        return nullptr;
    if (Service != INTERNET_SERVICE_HTTP || ServerName == nullptr || *ServerName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto connection = std::make_shared<ConnectionObject>();
    connection->Parent = internet;
    connection->Internet = internet;
    connection->Context = Context;
    connection->Callback = internet->Callback.load();
    connection->Host = ServerName;
    connection->Port = ServerPort;
    if (UserName != nullptr)
        connection->Current.UserName = UserName;
    if (Password != nullptr)
        connection->Current.Password = Password;
    return Engine::Get().Register(std::move(connection));
}

BOOL InternetSetOptionA(HINTERNET Handle, DWORD Option, LPVOID Buffer, DWORD BufferLength) {
    std::shared_ptr<HandleObject> object = Engine::Get().Find(Handle);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (Option == INTERNET_OPTION_CONNECT_TIMEOUT) {
        if (Buffer == nullptr || BufferLength < sizeof(DWORD))
            return Fail(ERROR_INVALID_PARAMETER);
        DWORD value;
        std::memcpy(&value, Buffer, sizeof value);
        if (object->Kind == HandleKind::Internet) {
            static_cast<InternetObject&>(*object).ConnectTimeout = value;
            return TRUE;
        }
    } else if (Option != INTERNET_OPTION_USERNAME && Option != INTERNET_OPTION_PASSWORD &&
               Option != INTERNET_OPTION_PROXY_USERNAME &&
               Option != INTERNET_OPTION_PROXY_PASSWORD) {
        return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
    // Set on a request, these apply to its connection.
    std::shared_ptr<HandleObject> target =
        object->Kind == HandleKind::Request ? object->Parent : object;
    if (target->Kind != HandleKind::Connection)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    auto& connection = static_cast<ConnectionObject&>(*target);
    std::lock_guard lock(connection.Lock);
    if (Option == INTERNET_OPTION_CONNECT_TIMEOUT) {
        std::memcpy(&connection.Current.ConnectTimeout, Buffer, sizeof(DWORD));
        return TRUE;
    }
    // The length counts characters without a terminator; a terminator
    // inside it ends the text.
    const char* text = static_cast<const char*>(Buffer);
    std::string value =
        text == nullptr ? std::string() : std::string(text, strnlen(text, BufferLength));
    switch (Option) {
    case INTERNET_OPTION_USERNAME:
        connection.Current.UserName = std::move(value);
        break;
    case INTERNET_OPTION_PASSWORD:
        connection.Current.Password = std::move(value);
        break;
    case INTERNET_OPTION_PROXY_USERNAME:
        connection.Current.ProxyUserName = std::move(value);
        break;
    default:
        connection.Current.ProxyPassword = std::move(value);
        break;
    }
    return TRUE;
}

HINTERNET HttpOpenRequestA(HINTERNET Connect, const char* Verb, const char* ObjectName, const char*,
                           const char* Referrer, const char** AcceptTypes, DWORD Flags,
                           DWORD_PTR Context) {
    auto connection = Lookup<ConnectionObject>(Connect, HandleKind::Connection);
    if (!connection)
        return nullptr;
    auto request = std::make_shared<RequestObject>();
    request->Parent = connection;
    request->Connection = connection;
    request->Context = Context;
    request->Callback = connection->Callback.load();
    request->Verb = Verb != nullptr && *Verb != '\0' ? Verb : "GET";
    request->Object = ObjectName != nullptr && *ObjectName != '\0' ? ObjectName : "/";
    if (request->Object.front() != '/')
        request->Object.insert(0, "/");
    request->Flags = Flags;
    if (AcceptTypes != nullptr && AcceptTypes[0] != nullptr) {
        std::string accept = "Accept: ";
        for (const char** type = AcceptTypes; *type != nullptr; ++type)
            accept += (type == AcceptTypes ? "" : ", ") + std::string(*type);
        request->FixedHeaders += accept + "\r\n";
    }
    if (Referrer != nullptr && *Referrer != '\0')
        request->FixedHeaders += "Referer: " + std::string(Referrer) + "\r\n";
    return Engine::Get().Register(std::move(request));
}

BOOL HttpSendRequestA(HINTERNET Request, const char* Headers, DWORD HeadersLength, LPVOID Optional,
                      DWORD OptionalLength) {
    auto request = Lookup<RequestObject>(Request, HandleKind::Request);
    if (!request)
        return FALSE;
    Engine& engine = Engine::Get();
    bool async = request->Connection->Internet->Async;
    if (!async && engine.OnEngineThread())
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE); // it would wait for itself
    std::string headers;
    if (Headers != nullptr)
        headers = HeadersLength == 0xffffffffu ? std::string(Headers)
                                               : std::string(Headers, HeadersLength);
    std::string body;
    if (Optional != nullptr)
        body.assign(static_cast<const char*>(Optional), OptionalLength);
    std::uint64_t generation;
    {
        std::lock_guard lock(request->Lock);
        if (request->Closed)
            return Fail(ERROR_INVALID_HANDLE);
        generation = ++request->Generation;
        request->State = RequestState::Sending;
        request->Headers = std::move(headers);
        request->Body = std::move(body);
        request->Head.clear();
        request->Status = 0;
        request->Buffered.Clear();
        request->Ended = false;
        request->ReadError = 0;
        request->Paused = request->ResumeAsked = false;
        request->ReadWaiting = false;
        request->Completed = false;
    }
    engine.Send(request, generation);
    if (async)
        return Fail(ERROR_IO_PENDING);
    return WaitForCompletion(*request, generation);
}

BOOL HttpQueryInfoA(HINTERNET Request, DWORD InfoLevel, LPVOID Buffer, DWORD* BufferLength,
                    DWORD* Index) {
    auto request = Lookup<RequestObject>(Request, HandleKind::Request);
    if (!request)
        return FALSE;
    if (BufferLength == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD modifiers = InfoLevel & HTTP_QUERY_MODIFIER_FLAGS_MASK;
    DWORD level = InfoLevel & ~HTTP_QUERY_MODIFIER_FLAGS_MASK;
    if (modifiers & (HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_FLAG_SYSTEMTIME))
        return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST); // not kept by this layer
    std::string head;
    DWORD status;
    {
        std::lock_guard lock(request->Lock);
        if (request->State != RequestState::Received)
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        head = request->Head;
        status = request->Status;
    }
    std::string value;
    bool indexed = false;
    std::string_view statusLine = std::string_view(head).substr(0, head.find("\r\n"));
    switch (level) {
    case HTTP_QUERY_STATUS_CODE:
        value = std::to_string(status);
        break;
    case HTTP_QUERY_STATUS_TEXT: {
        std::size_t second = statusLine.find(' ', statusLine.find(' ') + 1);
        value = second == std::string_view::npos ? "" : std::string(statusLine.substr(second + 1));
        break;
    }
    case HTTP_QUERY_VERSION:
        value = std::string(statusLine.substr(0, statusLine.find(' ')));
        break;
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = head;
        break;
    case HTTP_QUERY_RAW_HEADERS:
        // Lines ended by a zero each, the last one by two.
        for (std::size_t pos = 0, end;
             (end = head.find("\r\n", pos)) != pos && end != std::string::npos; pos = end + 2)
            value += head.substr(pos, end - pos) + '\0';
        break;
    default: {
        std::string name;
        if (level == HTTP_QUERY_CUSTOM && Buffer != nullptr)
            name = static_cast<const char*>(Buffer);
        for (const NamedLevel& named : NamedLevels)
            if (named.Level == level)
                name = named.Name;
        if (name.empty())
            return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        std::optional<std::string> found =
            wininet::FindHeader(head, name, Index != nullptr ? *Index : 0);
        if (!found)
            return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        value = std::move(*found);
        indexed = true;
        break;
    }
    }
    BOOL ok;
    if (modifiers & HTTP_QUERY_FLAG_NUMBER) {
        char* end = nullptr;
        unsigned long number = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0')
            return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        if (Buffer == nullptr || *BufferLength < sizeof(DWORD)) {
            *BufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        auto dword = static_cast<DWORD>(number);
        std::memcpy(Buffer, &dword, sizeof dword);
        *BufferLength = sizeof dword;
        ok = TRUE;
    } else {
        ok = AnswerText(value, Buffer, BufferLength);
    }
    if (ok && indexed && Index != nullptr)
        ++*Index;
    return ok;
}

BOOL InternetReadFile(HINTERNET Request, LPVOID Buffer, DWORD NumberOfBytesToRead,
                      DWORD* NumberOfBytesRead) {
    auto request = Lookup<RequestObject>(Request, HandleKind::Request);
    if (!request)
        return FALSE;
    if (NumberOfBytesRead == nullptr || (Buffer == nullptr && NumberOfBytesToRead != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    Engine& engine = Engine::Get();
    bool async = request->Connection->Internet->Async;
    *NumberOfBytesRead = 0;
    std::unique_lock lock(request->Lock);
    if (request->Closed)
        return Fail(ERROR_INVALID_HANDLE);
    if (request->State != RequestState::Received || request->ReadWaiting)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (request->Buffered.Size() > 0 && NumberOfBytesToRead > 0) {
        *NumberOfBytesRead = static_cast<DWORD>(
            request->Buffered.Take(static_cast<char*>(Buffer), NumberOfBytesToRead));
        bool resume = request->Paused && !request->ResumeAsked &&
                      request->Buffered.Size() <= wininet::ResumeBelow;
        if (resume)
            request->ResumeAsked = true;
        lock.unlock();
        if (resume)
            engine.Resume(request);
        return TRUE;
    }
    if (request->Ended || NumberOfBytesToRead == 0)
        return TRUE;
    if (request->ReadError != 0)
        return Fail(request->ReadError);
    if (!async && engine.OnEngineThread())
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    request->ReadWaiting = true;
    request->ReadInto = static_cast<char*>(Buffer);
    request->ReadSize = NumberOfBytesToRead;
    request->ReadCount = NumberOfBytesRead;
    request->Completed = false;
    std::uint64_t generation = request->Generation;
    lock.unlock();
    if (async)
        return Fail(ERROR_IO_PENDING);
    return WaitForCompletion(*request, generation);
}

DWORD InternetErrorDlg(HWND, HINTERNET Request, DWORD Error, DWORD Flags, LPVOID*) {
    // As WinInet: with FLAGS_ERROR_UI_FILTER_FOR_ERRORS only an answer that
    // asks for credentials leads to the dialog.
    if ((Flags & FLAGS_ERROR_UI_FILTER_FOR_ERRORS) && Error == ERROR_SUCCESS) {
        auto request = Lookup<RequestObject>(Request, HandleKind::Request);
        if (!request)
            return GetLastError();
        std::lock_guard lock(request->Lock);
        if (request->Status != 401 && request->Status != 407)
            return ERROR_SUCCESS;
    }
    CredentialsPrompt current = prompt.load();
    return current != nullptr ? current(Request, Error, Flags) : ERROR_CANCELLED;
}

BOOL InternetAddCookies(HINTERNET Internet, const std::vector<std::string>& Lines) {
    auto internet = Lookup<InternetObject>(Internet, HandleKind::Internet);
    if (!internet)
        return FALSE;
    Engine::Get().AddCookies(internet, Lines);
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET Handle) {
    Engine& engine = Engine::Get();
    std::vector<std::shared_ptr<HandleObject>> closed = engine.Unregister(Handle);
    if (closed.empty())
        return Fail(ERROR_INVALID_HANDLE);
    // Requests come first, so their transfers end before the internet
    // handle's pooled connections are closed.
    for (auto& object : closed) {
        if (object->Kind == HandleKind::Request) {
            auto request = std::static_pointer_cast<RequestObject>(object);
            bool transferring;
            {
                std::lock_guard lock(request->Lock);
                request->Closed = true;
                request->ReadWaiting = false;
                transferring = request->Transferring;
            }
            request->Changed.notify_all();
            engine.Discard(request, transferring);
        } else {
            object->Closed = true;
            if (object->Kind == HandleKind::Internet)
                engine.Release(std::static_pointer_cast<InternetObject>(object));
        }
    }
    return TRUE;
}

} // namespace larkspool
