#include "LoginRoutes.h"

#include <cstdio>
#include <random>
#include <string>

namespace {

const std::string& SessionToken() {
    static const std::string token = [] {
        std::random_device random;
        char text[33];
        std::snprintf(text, sizeof text, "%08x%08x%08x%08x", random(), random(), random(),
                      random());
        return std::string(text);
    }();
    return token;
}

std::string LoginPage(const char* Note) {
    return std::string("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                       "<title>Members: sign in</title></head>\n<body><h1>Members: sign in</h1>") +
           Note +
           "<form method=\"post\" action=\"/members/login\">"
           "<label>User <input name=\"user\"></label> "
           "<label>Password <input name=\"password\" type=\"password\"></label> "
           "<button id=\"signin\">Sign in</button></form></body></html>\n";
}

bool HasSession(const httplib::Request& Req) {
    const std::string wanted = "larkspool_member=" + SessionToken();
    const std::string cookies = Req.get_header_value("Cookie");
    std::size_t at = 0;
    while ((at = cookies.find(wanted, at)) != std::string::npos) {
        const std::size_t end = at + wanted.size();
        if ((at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') &&
            (end == cookies.size() || cookies[end] == ';'))
            return true;
        at = end;
    }
    return false;
}

} // namespace

void AddMemberRoutes(httplib::Server& Server) {
    Server.Get("/members/login", [](const httplib::Request&, httplib::Response& Res) {
        Res.set_content(LoginPage(""), "text/html");
    });
    Server.Post("/members/login", [](const httplib::Request& Req, httplib::Response& Res) {
        if (Req.get_param_value("user") == "member" &&
            Req.get_param_value("password") == "larkspool") {
            Res.set_header("Set-Cookie", "larkspool_member=" + SessionToken() +
                                             "; Path=/members; HttpOnly; SameSite=Lax");
            Res.set_redirect("/members/", 303);
            return;
        }
        Res.set_content(LoginPage("<p>Wrong user or password.</p>"), "text/html");
    });
}

bool ServeMembers(const httplib::Request& Req, httplib::Response& Res) {
    if (Req.path.rfind("/members/", 0) != 0 || Req.path == "/members/login" || HasSession(Req))
        return false;
    Res.set_header("Cache-Control", "no-store");
    Res.set_content(LoginPage(""), "text/html");
    return true;
}
