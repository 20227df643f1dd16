// Larkspool's service worker. A click (context menu or toolbar button)
// starts the program as the native-messaging host larkspool.lsapp, checks
// that both sides speak the same interface, puts the answerer into the
// clicked frame and relays the program's late-bound calls to it.
// The messages are described in protocol.md.

const HOST_NAME = 'larkspool.lsapp';
const MENU_ID = 'larkspool';
const HELLO_TIMEOUT_MS = 10000;

// The automation interface this extension was built for; the program's
// hello must describe the same one.
const DESCRIPTION = Object.freeze({
    library: 'Larkspool',
    version: '1.0',
    interface: 'ILSApp',
    methods: [{name: 'Start', dispid: 1}],
    class: 'LSApp',
    progid: 'Larkspool.LSApp',
});

const WINDOW = {type: 'object', handle: 1, class: 'Window'};

// The page's port is named this prefix and the session id.
const PAGE_PORT_PREFIX = 'larkspool-page:';

// The page side (one file, shared with larkspool-save) is put into a frame
// first; the functions below then run in the same world and call into it.
const ANSWERER_FILE = 'answerer.js';

// Run in a frame after ANSWERER_FILE: connects its answerer to the save.
function connectAnswerer(portName, firstHandle) {
    return globalThis[Symbol.for('larkspool.answerer')].connect(portName, firstHandle);
}

// Run in every frame after ANSWERER_FILE: the frame's place in its tab
// (null in a frame that came too late for the file).
function framePath() {
    return globalThis[Symbol.for('larkspool.answerer')]?.framePath() ?? null;
}

// Each frame answering for a save numbers its objects from its own base:
// the clicked frame from 1, the next frame reached from 1 + FRAME_SPAN, ...
const FRAME_SPAN = 1e9;

// Equality of JSON values: objects by their keys in any order.
function sameJson(a, b) {
    if (a === b)
        return true;
    if (typeof a !== 'object' || typeof b !== 'object' || a === null || b === null ||
        Array.isArray(a) !== Array.isArray(b))
        return false;
    const keys = Object.keys(a);
    return keys.length === Object.keys(b).length &&
        keys.every((k) => Object.hasOwn(b, k) && sameJson(a[k], b[k]));
}

// Whether a request to one of hosts would carry the cookie, as far as its
// domain goes (the program checks path and Secure per request).
function cookieFitsHosts(cookie, hosts) {
    const domain = cookie.domain.replace(/^\./, '').toLowerCase();
    if (hosts.has(domain))
        return true;
    if (cookie.hostOnly)
        return false;
    for (const host of hosts)
        if (host.endsWith('.' + domain))
            return true;
    return false;
}

// Session id -> Session, one per click; the id names the page's port so
// that saves in several tabs (or twice in one) never mix.
const sessions = new Map();

// How every session ended (null, or the failure told to the user): the
// service worker's console and the end-to-end test read it.
globalThis.larkspoolEndedSessions = [];
// How many saves a click started, for the same readers.
globalThis.larkspoolStartedSessions = 0;

class Session {
    constructor(tabId, frameId) {
        this.id = crypto.randomUUID();
        this.tabId = tabId;
        this.frameId = frameId;
        this.host = null;
        this.page = null;
        this.greeted = false;
        this.ended = false;
        this.helloTimer = undefined;
        this.failure = undefined;
        // Frame id -> {index, port, ready} for every frame answering calls;
        // the clicked frame is index 0 (its port is this.page).
        this.frames = new Map();
        this.framePorts = []; // by index
    }

    // The port of the frame whose range holds the handle.
    portOf(handle) {
        return this.framePorts[Math.floor((Number(handle) - 1) / FRAME_SPAN)];
    }

    // Has the answerer put into frame frameId (once per save) and resolves
    // with its port, or null when the frame cannot be reached.
    reachFrame(frameId) {
        let frame = this.frames.get(frameId);
        if (frame)
            return frame.ready;
        const index = this.framePorts.length;
        this.framePorts.push(undefined);
        frame = {index, port: null};
        frame.ready = new Promise((resolve) => {
            frame.resolve = resolve;
        });
        this.frames.set(frameId, frame);
        this.answerIn(frameId, 1 + index * FRAME_SPAN).then(([result]) => {
            if (result?.result !== true)
                frame.resolve(null);
        }, () => frame.resolve(null));
        return frame.ready;
    }

    // Puts the answerer into frame frameId and connects it to this save;
    // resolves with executeScript's results (the page's port arrives in
    // onConnect).
    async answerIn(frameId, firstHandle) {
        const target = {tabId: this.tabId, frameIds: [frameId]};
        await chrome.scripting.executeScript({target, files: [ANSWERER_FILE]});
        return chrome.scripting.executeScript({
            target,
            func: connectAnswerer,
            args: [PAGE_PORT_PREFIX + this.id, firstHandle],
        });
    }

    // The id of the frame at this place in the tab (see framePath), or
    // undefined when no frame there lets the extension in.
    async frameAt(path) {
        try {
            const target = {tabId: this.tabId, allFrames: true};
            await chrome.scripting.executeScript({target, files: [ANSWERER_FILE]});
            const results = await chrome.scripting.executeScript({target, func: framePath});
            const found = results.find((r) => sameJson(r.result, path));
            return found?.frameId;
        } catch {
            return undefined;
        }
    }

    attachFrame(frameId, port) {
        const frame = this.frames.get(frameId);
        frame.port = port;
        this.framePorts[frame.index] = port;
        port.onMessage.addListener((message) => this.fromPage(message, port));
        port.onDisconnect.addListener(() => {
            this.framePorts[frame.index] = undefined;
            this.frames.delete(frameId);
        });
        frame.resolve(port);
    }

    // A reply of a frame; a window of another frame is answered there.
    async fromPage(message, port) {
        if (this.ended || message?.type !== 'reply')
            return;
        const value = message.value;
        if (value?.type !== 'frame') {
            this.host.postMessage(message);
            return;
        }
        const frameId = await this.frameAt(value.path);
        const target = frameId === undefined ? null : await this.reachFrame(frameId);
        if (this.ended)
            return;
        if (!target) {
            // Not reachable: the window as the asking frame holds it.
            this.host.postMessage({...message, value: value.here});
            return;
        }
        port.postMessage({type: 'release', handles: [value.here.handle]});
        const frame = this.frames.get(frameId);
        target.postMessage({type: 'call', id: message.id, op: 'get',
            handle: 1 + frame.index * FRAME_SPAN, name: 'self', args: []});
    }

    open() {
        sessions.set(this.id, this);
        this.host = chrome.runtime.connectNative(HOST_NAME);
        this.host.onMessage.addListener((message) => this.fromHost(message));
        this.host.onDisconnect.addListener(() => this.hostGone());
        this.helloTimer = setTimeout(() => this.fail(
            'Larkspool did not answer within 10 seconds, so the page was not saved.\n\n' +
            'The installed Larkspool program may be too old for this extension or not working. ' +
            'Install the Larkspool version that comes with this extension and try again.'),
        HELLO_TIMEOUT_MS);
        this.host.postMessage({type: 'hello', description: DESCRIPTION});
    }

    fromHost(message) {
        if (this.ended)
            return;
        if (!this.greeted) {
            clearTimeout(this.helloTimer);
            if (message?.type !== 'hello' || !sameJson(message.description, DESCRIPTION)) {
                this.fail('Larkspool cannot save this page: the Larkspool program and this browser ' +
                    'extension were made for different versions of Larkspool.\n\n' +
                    'Install the extension that comes with the installed Larkspool program ' +
                    '(or reinstall Larkspool), then try again.');
                return;
            }
            this.greeted = true;
            this.injectAnswerer();
            return;
        }
        switch (message?.type) {
        case 'call': {
            const port = this.portOf(message.handle);
            if (port)
                port.postMessage(message);
            else // a frame that navigated away, or a call before start
                this.host.postMessage({type: 'reply', id: message.id,
                    error: {kind: 'other', text: 'the frame of this object is no longer connected'}});
            break;
        }
        case 'release': {
            const byPort = new Map();
            for (const handle of Array.isArray(message.handles) ? message.handles : []) {
                const port = this.portOf(handle);
                if (port)
                    byPort.set(port, [...byPort.get(port) ?? [], handle]);
            }
            for (const [port, handles] of byPort)
                port.postMessage({type: 'release', handles});
            break;
        }
        case 'cookies':
            this.handOverCookies(message);
            break;
        case 'started':
            // Until this the program would ask before its window closes.
            this.host.postMessage({type: 'releaseApp'});
            if (message.error) {
                this.failure = `Larkspool could not read this page:\n\n${message.error}`;
                this.tell(this.failure);
            }
            break;
        default:
            break;
        }
    }

    // The cookies the browser would send to the hosts the program names (the
    // hosts of the save's list), from the clicked tab's cookie store, HttpOnly
    // ones too. The program keeps them for this save only; nothing is ever
    // written back.
    async handOverCookies(message) {
        const reply = {type: 'reply', id: message.id};
        try {
            const hosts = new Set((Array.isArray(message.hosts) ? message.hosts : [])
                .filter((h) => typeof h === 'string').map((h) => h.toLowerCase()));
            const stores = await chrome.cookies.getAllCookieStores();
            const store = stores.find((s) => s.tabIds.includes(this.tabId));
            const all = await chrome.cookies.getAll(store ? {storeId: store.id} : {});
            reply.cookies = all.filter((cookie) => cookieFitsHosts(cookie, hosts));
        } catch (e) {
            reply.error = {kind: 'other', text: e.message};
        }
        if (!this.ended)
            this.host.postMessage(reply);
    }

    async injectAnswerer() {
        let text = 'the page did not run it';
        try {
            const [result] = await this.answerIn(this.frameId, 1);
            if (result?.result === true)
                return; // the page's port arrives in onConnect
            text = result?.error?.message ?? text;
        } catch (e) {
            text = e.message;
        }
        // Pages the browser keeps extensions out of (its own, the web store)
        // refuse the alert too; tell() then writes it to the console.
        this.tell(`Larkspool cannot read this page: ${text}`);
        this.end();
    }

    attachPage(port) {
        this.page = port;
        this.framePorts[0] = port;
        this.frames.set(this.frameId, {index: 0, port, ready: Promise.resolve(port)});
        port.onMessage.addListener((message) => this.fromPage(message, port));
        port.onDisconnect.addListener(() => this.end());
        this.host.postMessage({type: 'start', window: WINDOW});
    }

    hostGone() {
        // Chromium gives the reason in lastError (read here, or it logs it as
        // unchecked), Firefox on the port.
        const error = chrome.runtime.lastError?.message ?? this.host?.error?.message;
        if (!this.greeted && !this.ended)
            this.fail('Larkspool could not be started' + (error ? ` (${error})` : '') + '.\n\n' +
                'Install the Larkspool program, or run "larkspool -regserver" once so that it ' +
                'registers itself with this browser, then try again.');
        this.end();
    }

    // Tells the user in the clicked frame; a service worker has no alert.
    tell(text) {
        chrome.scripting.executeScript({
            target: {tabId: this.tabId, frameIds: [this.frameId]},
            func: (message) => {
                alert(message);
            },
            args: [text],
        }).catch((e) => console.error(`Larkspool: ${text} (${e.message})`));
    }

    fail(text) {
        this.failure = text;
        this.tell(text);
        this.end();
    }

    // Either side gone: close the other, so that the program sees the end of
    // its input and the page forgets its handles.
    end() {
        if (this.ended)
            return;
        this.ended = true;
        clearTimeout(this.helloTimer);
        sessions.delete(this.id);
        globalThis.larkspoolEndedSessions.push(this.failure ?? null);
        this.host?.disconnect();
        for (const port of this.framePorts)
            port?.disconnect();
    }
}

function startSave(tab, frameId) {
    if (tab?.id === undefined || tab.id < 0)
        return;
    globalThis.larkspoolStartedSessions++;
    new Session(tab.id, frameId).open();
}

chrome.runtime.onInstalled.addListener(() => {
    chrome.contextMenus.removeAll(() => {
        chrome.contextMenus.create({
            id: MENU_ID,
            title: 'Larkspool',
            contexts: ['page', 'frame', 'link', 'selection', 'image'],
        });
    });
});

chrome.contextMenus.onClicked.addListener((info, tab) => {
    if (info.menuItemId === MENU_ID)
        startSave(tab, info.frameId ?? 0);
});

chrome.action.onClicked.addListener((tab) => startSave(tab, 0));

chrome.runtime.onConnect.addListener((port) => {
    const session = port.name.startsWith(PAGE_PORT_PREFIX)
        ? sessions.get(port.name.slice(PAGE_PORT_PREFIX.length)) : undefined;
    const sender = port.sender;
    // Only the frames this session put the answerer into, each once.
    if (!session || sender?.id !== chrome.runtime.id || sender.tab?.id !== session.tabId) {
        port.disconnect();
        return;
    }
    if (!session.page && sender.frameId === session.frameId) {
        session.attachPage(port);
        return;
    }
    const frame = session.page ? session.frames.get(sender.frameId) : undefined;
    if (!frame || frame.port) {
        port.disconnect();
        return;
    }
    session.attachFrame(sender.frameId, port);
});
