#include "support/LocalServer.h"

#include <openssl/evp.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace larkspool::check {

namespace {

constexpr const char* Realm = "larkspool";
constexpr const char* Nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";

void KeepLoopbackOffProxies() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* name : {"no_proxy", "NO_PROXY"}) {
            const char* old = std::getenv(name);
            std::string value = "127.0.0.1,localhost";
            if (old != nullptr && *old != '\0')
                value = std::string(old) + "," + value;
            setenv(name, value.c_str(), 1);
        }
    });
}

std::string Base64(const std::string& Text) {
    std::string out(4 * ((Text.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(Text.data()),
                            static_cast<int>(Text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string Md5Hex(const std::string& Text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(Text.data(), Text.size(), digest, &size, EVP_md5(), nullptr);
    static const char Hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += Hex[digest[i] >> 4];
        out += Hex[digest[i] & 15];
    }
    return out;
}

// The name="value" pairs of a Digest authorization header.
std::map<std::string, std::string> DigestFields(const std::string& Header) {
    std::map<std::string, std::string> fields;
    std::size_t pos = Header.find(' ');
    while (pos != std::string::npos && pos < Header.size()) {
        pos = Header.find_first_not_of(" ,", pos);
        std::size_t equals = Header.find('=', pos);
        if (pos == std::string::npos || equals == std::string::npos)
            break;
        std::string key = Header.substr(pos, equals - pos);
        std::string value;
        pos = equals + 1;
        if (pos < Header.size() && Header[pos] == '"') {
            std::size_t close = Header.find('"', pos + 1);
            value = Header.substr(pos + 1, close - pos - 1);
            pos = close == std::string::npos ? close : close + 1;
        } else {
            std::size_t comma = Header.find(',', pos);
            value = Header.substr(pos, comma - pos);
            pos = comma;
        }
        fields[key] = value;
    }
    return fields;
}

bool DigestAccepted(const httplib::Request& Request) {
    std::string header = Request.get_header_value("Authorization");
    if (header.rfind("Digest ", 0) != 0)
        return false;
    auto f = DigestFields(header);
    if (f["username"] != LocalServer::User || f["realm"] != Realm || f["nonce"] != Nonce ||
        f["uri"] != Request.target)
        return false;
    std::string ha1 =
        Md5Hex(std::string(LocalServer::User) + ":" + Realm + ":" + LocalServer::Password);
    std::string ha2 = Md5Hex(Request.method + ":" + f["uri"]);
    std::string expected = f["qop"].empty() ? Md5Hex(ha1 + ":" + Nonce + ":" + ha2)
                                            : Md5Hex(ha1 + ":" + Nonce + ":" + f["nc"] + ":" +
                                                     f["cnonce"] + ":" + f["qop"] + ":" + ha2);
    return f["response"] == expected;
}

void Refuse(httplib::Response& Response, const std::string& Challenge) {
    Response.status = 401;
    Response.set_header("WWW-Authenticate", Challenge);
    Response.set_content("no entry", "text/plain");
}

// A socket bound to a port of 127.0.0.1 the system chose, which it puts in
// Port; -1 when that fails.
int BindLoopback(int& Port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (s >= 0)
            close(s);
        return -1;
    }
    Port = ntohs(address.sin_port);
    return s;
}

void Redirect(httplib::Response& Response, int Code, const std::string& Location) {
    Response.status = Code;
    Response.set_header("Location", Location);
    Response.set_content("moved", "text/plain");
}

} // namespace

LocalServer::LocalServer(const Routes& Extra, const TlsIdentity* Tls) {
    KeepLoopbackOffProxies();
    if (Tls != nullptr) {
        Server = std::make_unique<httplib::SSLServer>(Tls->Certificate, Tls->Key);
        Secure = true;
    } else {
        Server = std::make_unique<httplib::Server>();
    }
    Server->set_tcp_nodelay(true);
    Server->set_keep_alive_max_count(1000);
    // Stopping waits for idle connections to time out.
    Server->set_keep_alive_timeout(1);
    Server->set_pre_routing_handler([this](const httplib::Request& Request, httplib::Response&) {
        std::lock_guard lock(Lock);
        Requests.push_back({Request.method, Request.target, Request.headers, Request.remote_port});
        Ports.insert(Request.remote_port);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    if (Extra)
        Extra(*Server);
    AddStandardRoutes();
    BoundPort = Server->bind_to_any_port("127.0.0.1");
    if (BoundPort <= 0)
        throw std::runtime_error("cannot bind a test server");
    Thread = std::thread([this] { Server->listen_after_bind(); });
    while (!Server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LocalServer::~LocalServer() {
    {
        std::lock_guard lock(Lock);
        Stopped = true;
    }
    Stopping.notify_all();
    Server->stop();
    Thread.join();
}

std::string LocalServer::Url(const std::string& Path) const {
    return std::string(Secure ? "https" : "http") + "://127.0.0.1:" + std::to_string(BoundPort) +
           Path;
}

std::vector<SeenRequest> LocalServer::Seen() const {
    std::lock_guard lock(Lock);
    return Requests;
}

std::size_t LocalServer::Connections() const {
    std::lock_guard lock(Lock);
    return Ports.size();
}

void LocalServer::AddStandardRoutes() {
    httplib::Server& s = *Server;
    s.Get("/plain", [](const httplib::Request&, httplib::Response& Response) {
        Response.set_content("<html><body>Hello</body></html>", "text/html");
    });
    s.Get(R"(/large/(\d+))", [this](const httplib::Request& Request, httplib::Response& Response) {
        static const std::string pattern = [] {
            std::string bytes(65536 + 251, '\0');
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = LargeBodyByte(i);
            return bytes;
        }();
        Response.set_content_provider(
            std::stoull(Request.matches[1]), "application/octet-stream",
            [this](std::size_t Offset, std::size_t Length, httplib::DataSink& Sink) {
                std::size_t n = std::min<std::size_t>(Length, 65536);
                if (!Sink.write(pattern.data() + Offset % 251, n))
                    return false;
                LargeWritten += n;
                return true;
            });
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response& Response) {
        Response.set_content("", "text/plain");
    });
    s.Get("/zero", [](const httplib::Request&, httplib::Response& Response) {
        Response.set_content(std::string("ab\0cd", 5), "application/octet-stream");
    });
    auto echo = [](const httplib::Request& Request, httplib::Response& Response) {
        std::string text = Request.method + "\n";
        for (const auto& [name, value] : Request.headers)
            text += name + ": " + value + "\n";
        Response.set_content(text + "\n" + Request.body, "text/plain");
    };
    s.Get("/echo", echo);
    s.Post("/echo", echo);
    s.Put("/echo", echo);
    std::string basic = "Basic " + Base64(std::string(User) + ":" + Password);
    s.Get("/basic", [basic](const httplib::Request& Request, httplib::Response& Response) {
        if (Request.get_header_value("Authorization") == basic)
            Response.set_content("basic ok", "text/plain");
        else
            Refuse(Response, std::string("Basic realm=\"") + Realm + "\"");
    });
    s.Get("/digest", [](const httplib::Request& Request, httplib::Response& Response) {
        if (DigestAccepted(Request))
            Response.set_content("digest ok", "text/plain");
        else
            Refuse(Response, std::string("Digest realm=\"") + Realm + "\", qop=\"auth\", nonce=\"" +
                                 Nonce + "\", opaque=\"5ccc069c403ebaf9\", algorithm=MD5");
    });
    s.Get(R"(/status/(\d+))", [](const httplib::Request& Request, httplib::Response& Response) {
        Response.status = std::stoi(Request.matches[1]);
        Response.set_content("status " + std::string(Request.matches[1]), "text/plain");
    });
    s.Get("/redirect", [](const httplib::Request& Request, httplib::Response& Response) {
        int code = Request.has_param("code") ? std::stoi(Request.get_param_value("code")) : 302;
        Redirect(Response, code, Request.get_param_value("to"));
    });
    s.Get(R"(/chain/(\d+))", [](const httplib::Request& Request, httplib::Response& Response) {
        int n = std::stoi(Request.matches[1]);
        if (n == 0)
            Response.set_content("end of chain", "text/plain");
        else
            Redirect(Response, 302, "/chain/" + std::to_string(n - 1));
    });
    s.Get("/loop", [](const httplib::Request&, httplib::Response& Response) {
        Redirect(Response, 302, "/loop");
    });
    s.Get("/stall", [this](const httplib::Request&, httplib::Response& Response) {
        Response.set_content_provider(1000, "text/plain",
                                      [this](std::size_t, std::size_t, httplib::DataSink&) {
                                          std::unique_lock lock(Lock);
                                          Stopping.wait(lock, [this] { return Stopped; });
                                          return false;
                                      });
    });
}

LocalServer::Routes LocalServer::ProxyRoutes(std::string ProxyUser, std::string ProxyPassword) {
    std::string expected = "Basic " + Base64(ProxyUser + ":" + ProxyPassword);
    return [expected](httplib::Server& Server) {
        auto forward = [expected](const httplib::Request& Request, httplib::Response& Response) {
            if (Request.get_header_value("Proxy-Authorization") != expected) {
                Response.status = 407;
                Response.set_header("Proxy-Authenticate", "Basic realm=\"proxy\"");
                Response.set_content("proxy says no", "text/plain");
                return;
            }
            Response.set_content("proxied " + Request.target, "text/plain");
        };
        Server.Get(".*", forward);
        Server.Post(".*", forward);
    };
}

RawServer::RawServer(Responder Answer) : Answer(std::move(Answer)) {
    KeepLoopbackOffProxies();
    Listener = BindLoopback(BoundPort);
    if (Listener < 0 || listen(Listener, 16) != 0)
        throw std::runtime_error("cannot start a raw test server");
    Thread = std::thread([this] { Serve(); });
}

RawServer::~RawServer() {
    Done = true;
    Thread.join();
    close(Listener);
}

std::vector<std::string> RawServer::Requests() const {
    std::lock_guard lock(Lock);
    return Received;
}

void RawServer::Serve() {
    auto waitFor = [this](int Socket) {
        pollfd p{Socket, POLLIN, 0};
        while (!Done)
            if (poll(&p, 1, 20) > 0)
                return true;
        return false;
    };
    while (waitFor(Listener)) {
        int client = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::string request;
        std::size_t wanted = std::string::npos;
        char buffer[4096];
        while (request.size() < wanted && waitFor(client)) {
            ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(n));
            std::size_t end = request.find("\r\n\r\n");
            if (end != std::string::npos && wanted == std::string::npos) {
                std::size_t length = 0;
                std::size_t at = request.find("Content-Length:");
                if (at != std::string::npos && at < end)
                    length = std::stoul(request.substr(at + 15));
                wanted = end + 4 + length;
            }
        }
        {
            std::lock_guard lock(Lock);
            Received.push_back(request);
        }
        std::string reply = Answer(request);
        for (std::size_t sent = 0; sent < reply.size();) {
            ssize_t n = send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        close(client);
    }
}

int UnusedPort() {
    int port = 0;
    const int s = BindLoopback(port);
    if (s >= 0)
        close(s);
    return port;
}

} // namespace larkspool::check
