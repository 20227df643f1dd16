#!/usr/bin/env python3
"""The browser's half of the end-to-end test of the add-on in Firefox.

Starts Firefox (headless, a fresh profile kept off the network) with
Marionette on a free port of 127.0.0.1, installs the Firefox build of the
extension from its .xpi as a temporary add-on (as about:debugging's "Load
Temporary Add-on" does), opens the page, selects the first five list items
and presses the extension's toolbar button. Then it waits until DONE_FILE
appears (the test has driven the program's windows by then), checks that
the browser downloaded the files handed to it and that the extension told
the user of no failure (it does so in an alert on the page), and closes the
browser. The program must already be registered as the host for HOME.

    firefox-session.py FIREFOX XPI PAGE_URL DOWNLOADS DONE_FILE [DOWNLOADS_WANTED]

With LARKSPOOL_LOGIN_URL set, the demo site's login form there is filled in
and sent first. On a failure, the page as Firefox shows it is written to the PNG file named
by LARKSPOOL_FIREFOX_SCREENSHOT, when set (headless Firefox draws nothing
on the X display).

Marionette is used rather than WebDriver BiDi as it is plain JSON over TCP:
nothing beyond Python's standard library is needed.
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

# Keeps the browser to the test's own server on 127.0.0.1: every other
# address goes to a proxy that does not exist, and the services that would
# call home are off. Downloads land in the test's folder without a question.
PREFS = """
user_pref("marionette.port", 0);
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.allow_hijacking_localhost", false);
user_pref("network.proxy.no_proxies_on", "127.0.0.1,localhost");
user_pref("network.trr.mode", 5);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.prefetch-next", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("app.update.disabledForTesting", true);
user_pref("app.normandy.enabled", false);
user_pref("browser.region.network.url", "");
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.update.enabled", false);
user_pref("browser.search.update", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.page", 0);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("services.settings.server", "http://127.0.0.1:9/");
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("extensions.blocklist.enabled", false);
user_pref("browser.download.folderList", 2);
user_pref("browser.download.dir", "{downloads}");
user_pref("browser.download.useDownloadDir", true);
user_pref("browser.download.always_ask_before_handling_new_types", false);
user_pref("browser.download.panel.shown", true);
user_pref("browser.download.alwaysOpenPanel", false);
user_pref("browser.helperApps.neverAsk.saveToDisk", "application/zip");
"""

SELECT_FIVE = """
const items = document.querySelectorAll('li');
if (items.length < 5) return '';
const range = document.createRange();
range.setStartBefore(items[0]); range.setEndAfter(items[4]);
getSelection().removeAllRanges(); getSelection().addRange(range);
return getSelection().toString();
"""

LOG_IN = """
document.querySelector('[name=user]').value = 'member';
document.querySelector('[name=password]').value = 'larkspool';
document.querySelector('form').submit();
"""

# Run in the browser's window (chrome context): presses the extension's
# toolbar button, as a click by the user does, on the selected tab. The
# button of an MV3 extension sits in the extensions panel, which need not
# be open; this is the browser's own way to press it.
PRESS_BUTTON = """
const {ExtensionParent} = ChromeUtils.importESModule(
    "resource://gre/modules/ExtensionParent.sys.mjs");
const policy = WebExtensionPolicy.getByID(arguments[0]);
if (!policy || !policy.extension) return "the extension is not running";
const action = ExtensionParent.apiManager.global.browserActionFor(policy.extension);
if (!action) return "the extension has no toolbar button";
action.triggerAction(window);
return "";
"""


def log(text):
    print(text, flush=True)


class Marionette:
    """Marionette's wire protocol: LENGTH:JSON, commands [0, id, name, params]."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=120)
        self.buffer = b""
        self.next_id = 0
        self.read()  # the greeting

    def read(self):
        while b":" not in self.buffer:
            self.receive()
        length, rest = self.buffer.split(b":", 1)
        length = int(length)
        self.buffer = rest
        while len(self.buffer) < length:
            self.receive()
        message, self.buffer = self.buffer[:length], self.buffer[length:]
        return json.loads(message)

    def receive(self):
        data = self.sock.recv(65536)
        if not data:
            raise RuntimeError("Firefox closed the Marionette connection")
        self.buffer += data

    def command(self, name, params=None):
        self.next_id += 1
        data = json.dumps([0, self.next_id, name, params or {}]).encode()
        self.sock.sendall(str(len(data)).encode() + b":" + data)
        while True:
            message = self.read()
            if message[0] == 1 and message[1] == self.next_id:
                if message[2]:
                    raise MarionetteError(name, message[2])
                return message[3]

    def script(self, source, *args):
        return self.command("WebDriver:ExecuteScript",
                            {"script": source, "args": list(args)}).get("value")


class MarionetteError(RuntimeError):
    def __init__(self, name, error):
        super().__init__(f"{name}: {error.get('error')}: {error.get('message')}")
        self.error = error.get("error")


def wait_for(condition, seconds, step=0.1):
    end = time.monotonic() + seconds
    while True:
        if condition():
            return True
        if time.monotonic() >= end:
            return False
        time.sleep(step)


def alert_text(marionette):
    """The text of an alert open on the page, or None."""
    try:
        return marionette.command("WebDriver:GetAlertText").get("value")
    except MarionetteError as e:
        if e.error == "no such alert":
            return None
        raise


def save_screenshot(marionette):
    path = os.environ.get("LARKSPOOL_FIREFOX_SCREENSHOT")
    if not path or marionette is None:
        return
    try:
        marionette.command("Marionette:SetContext", {"value": "content"})
        if alert_text(marionette) is not None:
            marionette.command("WebDriver:DismissAlert")
        png = marionette.command("WebDriver:TakeScreenshot", {"full": False}).get("value")
        with open(path, "wb") as f:
            f.write(base64.b64decode(png))
    except (OSError, RuntimeError) as e:
        log(f"no screenshot of the page: {e}")


def gecko_id(xpi):
    import zipfile
    with zipfile.ZipFile(xpi) as package:
        manifest = json.loads(package.read("manifest.json"))
    return manifest["browser_specific_settings"]["gecko"]["id"]


def main():
    if len(sys.argv) not in (6, 7):
        print("usage: firefox-session.py FIREFOX XPI PAGE_URL DOWNLOADS DONE_FILE "
              "[DOWNLOADS_WANTED]", file=sys.stderr)
        return 2
    firefox, xpi, page, downloads, done = sys.argv[1:6]
    downloads_wanted = int(sys.argv[6]) if len(sys.argv) == 7 else 1
    xpi, downloads = os.path.abspath(xpi), os.path.abspath(downloads)
    extension_id = gecko_id(xpi)
    os.makedirs(downloads, exist_ok=True)
    temp = tempfile.mkdtemp(prefix="larkspool-firefox-")
    profile = os.path.join(temp, "profile")
    os.makedirs(profile)
    with open(os.path.join(profile, "user.js"), "w") as prefs:
        prefs.write(PREFS.replace("{downloads}", downloads))
    browser_log = open(os.path.join(temp, "firefox.log"), "w")
    browser = subprocess.Popen(
        [firefox, "--headless", "--marionette", "--remote-allow-system-access", "--no-remote",
         "--profile", profile, "about:blank"],
        stdout=browser_log, stderr=subprocess.STDOUT, env={**os.environ, "MOZ_HEADLESS": "1"})
    failures = 0
    marionette = None
    try:
        port_file = os.path.join(profile, "MarionetteActivePort")
        if not wait_for(lambda: os.path.exists(port_file) and os.path.getsize(port_file) > 0, 60):
            raise RuntimeError("Firefox never opened its Marionette port")
        with open(port_file) as f:
            marionette = Marionette(int(f.read().strip()))
        version = marionette.command("WebDriver:NewSession", {"capabilities": {}})
        log(f"browser started: Firefox {version['capabilities']['browserVersion']}")
        installed = marionette.command("Addon:Install", {"path": xpi, "temporary": True})
        if installed.get("value") != extension_id:
            raise RuntimeError(f"the add-on was installed as {installed}, not {extension_id}")
        log(f"extension installed: {extension_id}")

        # Logged in first, as the user is: the form sets a session cookie
        # (HttpOnly, so only the browser's own store shows it).
        login = os.environ.get("LARKSPOOL_LOGIN_URL")
        if login:
            marionette.command("WebDriver:Navigate", {"url": login})
            marionette.script(LOG_IN)

            def logged_in():
                cookies = marionette.command("WebDriver:GetCookies")  # a bare list
                if isinstance(cookies, dict):
                    cookies = cookies.get("value", [])
                return any(c.get("name") == "larkspool_member" and c.get("httpOnly")
                           for c in cookies)
            if not wait_for(logged_in, 20):
                raise RuntimeError("logging in set no session cookie")
            log("logged in")

        marionette.command("WebDriver:Navigate", {"url": page})
        log(f"selected: {marionette.script(SELECT_FIVE)}")

        marionette.command("Marionette:SetContext", {"value": "chrome"})
        problem = marionette.script(PRESS_BUTTON, extension_id)
        marionette.command("Marionette:SetContext", {"value": "content"})
        if problem:
            raise RuntimeError(f"the extension's button could not be pressed: {problem}")
        log("save started")

        # The extension tells of a failure in an alert; the test's windows
        # are done once DONE_FILE is there.
        alert = None

        def finished_or_alert():
            nonlocal alert
            alert = alert_text(marionette)
            return alert is not None or os.path.exists(done)

        if not wait_for(finished_or_alert, 240, 0.2):
            raise RuntimeError("the test never finished with the windows")
        if alert is None and downloads_wanted > 0:
            def downloaded():
                names = [n for n in os.listdir(downloads) if not n.endswith(".part")]
                return len(names) >= downloads_wanted and \
                    all(os.path.getsize(os.path.join(downloads, n)) > 0 for n in names)
            if not wait_for(downloaded, 30):
                log("FAIL: the browser did not download the file handed to it")
                failures += 1
        # The program ends a moment after its windows close and the session
        # with it; a failure then would still come as an alert.
        if alert is None:
            wait_for(finished_or_alert, 3, 0.2)
        if alert is not None:
            log(f"FAIL: the extension told the user: {alert}")
            failures += 1
        else:
            log("no failure told")
        if failures:
            save_screenshot(marionette)
        try:
            marionette.command("Marionette:Quit", {"flags": ["eForceQuit"]})
        except (OSError, RuntimeError):
            pass  # the browser may close the connection before it answers
        browser.wait(timeout=30)
    except Exception as e:  # every failure ends the same way: said and counted
        log(f"FAIL: {e}")
        failures += 1
        save_screenshot(marionette)
    finally:
        if browser.poll() is None:
            browser.kill()
            browser.wait()
        browser_log.close()
        if failures:
            with open(os.path.join(temp, "firefox.log")) as f:
                sys.stdout.write("Firefox's output:\n" + f.read()[-4000:])
        shutil.rmtree(temp, ignore_errors=True)
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
