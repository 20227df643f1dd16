#pragma once

// A members' area behind a login form, as sites that keep a session in a
// cookie have it: POST /members/login with user "member" and password
// "larkspool" sets the cookie larkspool_member (HttpOnly, path /members) and
// sends the browser on to /members/; every other page under /members/
// answers with the login form (status 200, as such sites do) unless the
// request carries that cookie. The cookie's value is made anew at each
// start of the server.

#include <httplib.h>

// The login form, GET and POST (a form's body is read only for routes).
void AddMemberRoutes(httplib::Server& Server);

// Before routing: answers the members' pages asked for without the cookie
// with the login form; false for everything else (the mount point serves the
// members' files to a request with the cookie).
bool ServeMembers(const httplib::Request& Req, httplib::Response& Res);
