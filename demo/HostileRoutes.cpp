#include "HostileRoutes.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr const char* Picture =
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\">"
    "<rect width=\"8\" height=\"8\" fill=\"#c84\"/></svg>";

bool EndsWith(const std::string& Text, const std::string& Tail) {
    return Text.size() >= Tail.size() &&
           Text.compare(Text.size() - Tail.size(), Tail.size(), Tail) == 0;
}

// A small body of the type the name asks for.
void SetBodyFor(const std::string& Name, httplib::Response& Res) {
    if (EndsWith(Name, ".svg"))
        Res.set_content(Picture, "image/svg+xml");
    else if (EndsWith(Name, ".css"))
        Res.set_content("p { margin: 1em }", "text/css");
    else
        Res.set_content("<!DOCTYPE html><html><head><title>A fixture page</title></head>"
                        "<body><p>A fixture page.</p></body></html>",
                        "text/html");
}

// "http://HOST:PORT" of the other site: the same server under its other
// name, so that the browser treats it as another origin and another site.
std::string OtherOrigin(const httplib::Request& Req) {
    const std::string host = Req.get_header_value("Host");
    const std::size_t colon = host.rfind(':');
    const std::string port = colon == std::string::npos ? "80" : host.substr(colon + 1);
    return (host.rfind("localhost", 0) == 0 ? "http://127.0.0.1:" : "http://localhost:") + port;
}

// The page with its placeholders filled in; false when it is not a page of
// the folder or has none.
bool ServePage(const HostileSite& Site, const httplib::Request& Req, httplib::Response& Res) {
    if (!EndsWith(Req.path, ".html") || Req.path.find("..") != std::string::npos)
        return false;
    std::ifstream file(Site.Folder + Req.path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream text;
    text << file.rdbuf();
    std::string page = text.str();
    if (page.find('@') == std::string::npos)
        return false;
    const std::string other = OtherOrigin(Req);
    const std::string tls = Site.TlsOrigin.empty() ? other + "/" : Site.TlsOrigin;
    const std::string otherHost = other.substr(other.find("//") + 2);
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"@OTHER_SITE@", other},
          std::pair<std::string, std::string>{"@OTHER_HOST@", otherHost},
          std::pair<std::string, std::string>{"@TLS@", tls}})
        for (std::size_t at = page.find(mark); at != std::string::npos;
             at = page.find(mark, at + value.size()))
            page.replace(at, mark.size(), value);
    Res.set_content(page, "text/html");
    return true;
}

} // namespace

bool ServeHostile(const HostileSite& Site, const httplib::Request& Req, httplib::Response& Res) {
    if (Req.path.rfind("/x/", 0) != 0)
        return ServePage(Site, Req, Res);
    // /x/KIND/[ARGUMENT/]NAME
    const std::string rest = Req.path.substr(3);
    const std::size_t slash = rest.find('/');
    const std::string kind = rest.substr(0, slash);
    const std::string tail = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    const std::size_t second = tail.find('/');
    const std::string argument = tail.substr(0, second);
    const std::string name = second == std::string::npos ? tail : tail.substr(second + 1);
    if (kind == "status") {
        Res.status = std::atoi(argument.c_str());
        Res.set_content("<html><body>Status " + argument + "</body></html>", "text/html");
    } else if (kind == "headers") {
        // Many header lines of a kilobyte each, up to the size asked for.
        const long bytes = std::atol(argument.c_str());
        for (long sent = 0, n = 0; sent < bytes; sent += 1024, ++n)
            Res.set_header("X-Filler-" + std::to_string(n), std::string(1000, 'h'));
        SetBodyFor(name, Res);
    } else if (kind == "loop") {
        Res.set_redirect(Req.path, 302);
    } else if (kind == "to-other") {
        Res.set_redirect(OtherOrigin(Req) + "/" + name, 302);
    } else if (kind == "to-tls") {
        if (Site.TlsOrigin.empty())
            Res.status = 404;
        else
            Res.set_redirect(Site.TlsOrigin + name, 302);
    } else if (kind == "page") {
        SetBodyFor(tail, Res);
    } else if (kind == "stall") {
        // Accepted, then silent: only a countdown ends the wait.
        std::this_thread::sleep_for(std::chrono::seconds(30));
        SetBodyFor(name, Res);
    } else if (kind == "log") {
        Res.set_content("not a log of ours", "application/octet-stream");
    } else {
        Res.status = 404;
    }
    return true;
}
