// The page side of the program's late-bound get / call / put, for both
// bridges to the browser: the extension puts this file into a frame
// (chrome.scripting.executeScript with files, then connect below), and
// larkspool-save has its text compiled in and runs it in each page context
// it reads (Runtime.callFunctionOn, then invoke below). So it is a classic
// script that uses nothing from outside itself and leaves one thing behind:
// an object under a symbol page scripts do not use,
//
//     globalThis[Symbol.for('larkspool.answerer')] = {
//         invoke(target, op, name, args),  // the member rules; throws
//         failure(exception),              // -> {kind, text}, see protocol.md
//         session(firstHandle),            // a handle table answering messages
//         connect(portName, firstHandle),  // the extension's port to its worker
//         framePath(),                     // this frame's place in the tab
//     }
//
// invoke's operation "snapshot" (on a window) answers, in one call, every
// read the program's readers make of that frame: see snapshot below.
//
// The member rules follow the old browser's object model (protocol.md,
// section 3). Running the file again replaces the object.
'use strict';

{
    // toLowerCase where it is the same (ASCII text): it is much faster.
    const lowerAscii = (s) => {
        s = String(s);
        return /[^\0-\x7f]/.test(s) ? s.replace(/[A-Z]/g, (c) => String.fromCharCode(c.charCodeAt(0) + 32))
            : s.toLowerCase();
    };
    const probe = (f) => {
        try {
            return f();
        } catch {
            return false;
        }
    };
    const isRefusal = (e) => e !== null && typeof e === 'object' && e.name === 'SecurityError';

    // A failure of our own: KIND and TEXT as protocol.md names them.
    class AnswerError extends Error {
        constructor(kind, text) {
            super(text || kind);
            this.kind = kind;
            this.text = text || '';
        }
    }
    const fail = (kind, text) => {
        throw new AnswerError(kind, text);
    };

    // document.selection is gone; its text range is the window's selection.
    // The class names are what the program sees: the extension reads the
    // tag, DevTools the constructor's name.
    class TextRange {
        constructor(text) {
            this.text = text;
        }
        get [Symbol.toStringTag]() {
            return 'TextRange';
        }
    }
    class TextSelection {
        #view;
        constructor(view) {
            this.#view = view;
        }
        createRange() {
            const selection = this.#view ? this.#view.getSelection() : null;
            return new TextRange(selection ? selection.toString() : '');
        }
        get [Symbol.toStringTag]() {
            return 'TextSelection';
        }
    }
    // The address of a frame whose own location cannot be read.
    class Location {
        constructor(href) {
            this.href = href;
        }
        get [Symbol.toStringTag]() {
            return 'Location';
        }
    }

    const classOf = (object) => {
        let tag;
        try {
            tag = Object.prototype.toString.call(object).slice(8, -1);
        } catch {
            tag = 'Object';
        }
        // Another origin's window or location hides its tag and prototype.
        if (tag === 'Object' && probe(() => Object.getPrototypeOf(object) === null)) {
            if (probe(() => object.window === object))
                return 'Window';
            if (probe(() => typeof object.replace === 'function'))
                return 'Location';
        }
        return tag;
    };

    // Where a window sits in its tab: the indexes in frames from the top
    // down ([] for the top); null when a parent does not list it.
    const pathOf = (w) => {
        const path = [];
        for (let a = w; a.parent !== a; a = a.parent) {
            const p = a.parent;
            let k = 0;
            while (k < p.length && p[k] !== a)
                k++;
            if (k === p.length)
                return null;
            path.unshift(k);
        }
        return path;
    };

    // The member's real name: the exact one first, then the first one
    // matching without regard to case, where a lower-case member wins over
    // an interface object of the same name (document over Document).
    const findMember = (target, name, memo) => {
        if (memo) {
            let names = memo.get(target);
            if (names === undefined)
                memo.set(target, names = new Map());
            if (!names.has(name))
                names.set(name, findMember(target, name));
            return names.get(name);
        }
        let refused = false;
        try {
            if (name in target)
                return name;
        } catch (e) {
            // Another origin's window refuses most names but lists the few it offers.
            if (!isRefusal(e))
                throw e;
            refused = true;
        }
        const key = lowerAscii(name);
        let capital;
        for (let o = target; o !== null && o !== undefined; o = Object.getPrototypeOf(o)) {
            for (const k of Object.getOwnPropertyNames(o)) {
                if (k.length !== key.length || lowerAscii(k) !== key)
                    continue;
                if (!/^[A-Z]/.test(k))
                    return k;
                if (capital === undefined)
                    capital = k;
            }
        }
        if (capital !== undefined)
            return capital;
        return fail(refused ? 'denied' : 'missing');
    };

    // Asked before writing, so that a read-only member is a "readonly"
    // failure rather than whatever TypeError the browser words for it.
    const isWritable = (target, name) => {
        for (let o = target; o !== null && o !== undefined; o = Object.getPrototypeOf(o)) {
            const d = Object.getOwnPropertyDescriptor(o, name);
            if (d)
                return 'value' in d ? d.writable : d.set !== undefined;
        }
        return Object.isExtensible(target);
    };

    // Whether a page object is a window. Asked of a collection, "window" is
    // a search of its elements' names: memo (a Map, while nothing in the
    // page can change) keeps the answer per object, and that of findMember.
    const isWindow = (target, memo) => {
        if (!memo)
            return probe(() => target.window === target);
        let names = memo.get(target);
        if (names === undefined)
            memo.set(target, names = new Map());
        if (!names.has(isWindow))
            names.set(isWindow, probe(() => target.window === target));
        return names.get(isWindow);
    };

    // Reads (get), calls (call) or writes (put, args holds the value) the
    // member of target named name; returns the page's own value. "snapshot"
    // returns the text of snapshot(target).
    const invoke = (target, op, name, args, memo) => {
        if (op === 'snapshot')
            return snapshot(target);
        if (!['get', 'call', 'put'].includes(op))
            fail('other', `unknown operation ${op}`);
        name = String(name);
        args = Array.isArray(args) ? args : [];
        const key = lowerAscii(name);
        // Chromium's frames collection is the window itself, without item().
        if (key === 'item' && isWindow(target, memo)) {
            if (op === 'put')
                fail('readonly');
            const index = args[0];
            if (args.length !== 1 || !Number.isInteger(index))
                fail('args', 'takes one integer argument');
            if (index < 0 || index >= target.length)
                fail('args', `index ${index} is out of range (0 to ${target.length - 1})`);
            return target[index];
        }
        // all.item(i, 0): the old second argument (which match) is ignored.
        if (key === 'item' && op !== 'put' && classOf(target) === 'HTMLAllCollection') {
            if (args.length < 1 || args.length > 2)
                fail('args', 'takes an index or a name and an optional second argument');
            return target.item(args[0]);
        }
        if (key === 'selection' && op !== 'put' && probe(() => target.nodeType === 9))
            return new TextSelection(target.defaultView);
        // A frame of another origin that could not be answered in its own
        // context still tells its address: the one its element here holds.
        if (key === 'location' && op !== 'put' && target !== window && isWindow(target, memo) &&
            !probe(() => typeof target.location.href === 'string')) {
            for (const e of document.querySelectorAll('iframe, frame')) {
                if (e.contentWindow === target)
                    return new Location(e.src);
            }
        }
        const real = findMember(target, name, memo);
        if (op === 'put') {
            if (args.length !== 1)
                fail('args', 'takes exactly one value to write');
            if (!isWritable(target, real))
                fail('readonly');
            target[real] = args[0];
            return undefined;
        }
        const value = target[real];
        // typeof rather than a null test: document.all claims to be undefined.
        if (typeof value === 'function')
            return value.apply(target, args);
        if (args.length > 0)
            fail('args', 'is a property and takes no arguments');
        return value;
    };

    // The frame of window w as the program reads it, taken at once: every
    // answer invoke gives to the reads of the link list, the download list
    // and the writing of the page (the window, its location and frames, the
    // document's address, title, selection, links, pictures, root element's
    // markup, mode and encoding), failures included: the answers separate
    // calls would get. A page may have thousands of links, so the text is
    // compact (no key spelled twice) and a collection's items are read in
    // one loop (see collection below).
    // Returns JSON text:
    //   {"v": 2, "names": [TEXT, ...], "objects": [[CLASS, GETS, CALLS], ...], "ms": N}
    // objects[0] is w. CLASS and each NAME are indexes into names; GETS is
    // [NAME, V, NAME, V, ...], the reads; CALLS is [NAME, [I, ...], V, ...],
    // the calls with integer arguments. V is a string, an integer, a Boolean
    // or null as it is, or
    //   [N]        object N of the list      {"w": 1}  another frame's window
    //   {"u": 1}   undefined                 {"n": TEXT}  a number as text
    //   {"e": KIND, "t": TEXT}  a failure, as failure() gives it
    // The program asks the page itself for anything the list lacks, and for
    // another frame's window (which it reads in that frame). ms is the time
    // taken here.
    const snapshotLimit = 8 << 20; // characters; native messages end at 64 MiB
    // What the DevTools pipe and native messaging make of a lone surrogate.
    const wellFormed = typeof ''.toWellFormed === 'function'
        ? (s) => s.toWellFormed()
        : (s) => s.replace(/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g, '\ufffd');
    const snapshot = (w) => {
        const started = performance.now();
        const names = [];
        const nameIds = new Map();
        const objects = [];
        const ids = new Map();
        const done = new Set();
        const memo = new Map();
        const nameOf = (name) => {
            let k = nameIds.get(name);
            if (k === undefined) {
                k = names.length;
                names.push(name);
                nameIds.set(name, k);
            }
            return k;
        };
        // The index of a page object in the list, entered at first sight.
        const idOf = (o) => {
            let id = ids.get(o);
            if (id === undefined) {
                id = objects.length;
                ids.set(o, id);
                objects.push([nameOf(classOf(o)), [], []]);
            }
            return id;
        };
        const value = (v) => {
            if (v === undefined)
                return {u: 1};
            if (v === null)
                return null;
            switch (typeof v) {
            case 'boolean':
                return v;
            case 'number':
                return Number.isInteger(v) && Math.abs(v) < 2 ** 63 ? v + 0 : {n: String(v)};
            case 'bigint':
                return {n: v.toString()};
            case 'string':
                return wellFormed(v);
            case 'symbol':
                return wellFormed(v.toString());
            default:
                break;
            }
            if (v === w)
                return [0];
            if (probe(() => v.window === v))
                return {w: 1};
            return [idOf(v)];
        };
        const keep = (id, op, name, args, kept) => {
            if (op === 'get')
                objects[id][1].push(nameOf(name), kept);
            else
                objects[id][2].push(nameOf(name), args, kept);
        };
        // One answer of invoke, kept under the object's entry; then(object,
        // id) goes on with an object answered. Returns the page's value.
        const read = (id, target, op, name, args, then) => {
            let v;
            let kept;
            try {
                v = invoke(target, op, name, args, memo);
                kept = value(v);
            } catch (e) {
                const f = failure(e);
                kept = {e: f.kind, t: f.text};
                v = undefined;
            }
            keep(id, op, name, args, kept);
            if (then && Array.isArray(kept))
                then(v, kept[0]);
            return v;
        };
        const get = (id, target, name, then) => read(id, target, 'get', name, [], then);
        const once = (plan, fill) => (o, id) => {
            if (!done.has(`${plan}:${id}`)) {
                done.add(`${plan}:${id}`);
                fill(o, id);
            }
        };
        // The items of a collection and the members of each. Where invoke
        // would call the collection's own item() and read a member as a
        // plain property (the rules settled once per collection, checked per
        // item), the loop does just that; anything else goes through read.
        const collection = (plan, members) => once(plan, (c, id) => {
            const length = get(id, c, 'Length');
            if (!Number.isInteger(length))
                return;
            const item = probe(() => {
                if (isWindow(c, memo) || classOf(c) === 'HTMLAllCollection')
                    return false;
                const f = c[findMember(c, 'Item', memo)];
                return typeof f === 'function' ? f : false;
            });
            const fill = (e, eid) => {
                const gets = objects[eid][1];
                for (let k = 0; k < members.length; k++) {
                    const m = members[k];
                    let v;
                    try {
                        v = m in e ? e[m] : read;
                    } catch {
                        v = read;
                    }
                    if (v === read || typeof v === 'function')
                        get(eid, e, m);
                    else
                        gets.push(memberIds[k], typeof v === 'string' ? wellFormed(v) : value(v));
                }
            };
            const memberIds = members.map(nameOf);
            const calls = objects[id][2];
            const itemId = nameOf('Item');
            for (let i = 0; i < length; i++) {
                let e = null;
                let plain = item !== false;
                try {
                    if (plain)
                        e = item.call(c, i);
                    plain = e !== null && typeof e === 'object' && e !== w && e.window !== e;
                } catch {
                    plain = false;
                }
                if (!plain) {
                    read(id, c, 'call', 'Item', [i], fill);
                    continue;
                }
                const eid = idOf(e);
                calls.push(itemId, [i], [eid]);
                fill(e, eid);
            }
        });
        const fillLocation = once('location', (l, id) => get(id, l, 'href'));
        const links = collection('links', ['href', 'innerText']);
        // The elements up to the root element, and the root's markup.
        const all = once('all', (c, id) => {
            const length = get(id, c, 'Length');
            let root = false;
            for (let i = 0; !root && Number.isInteger(length) && i < length; i++) {
                read(id, c, 'call', 'Item', [i, 0], (e, eid) => {
                    root = get(eid, e, 'tagName') === 'HTML';
                    if (root)
                        get(eid, e, 'outerHTML');
                });
            }
        });
        const fillDocument = once('document', (d, id) => {
            for (const name of ['Url', 'URL', 'Title', 'characterSet', 'compatMode'])
                get(id, d, name);
            get(id, d, 'location', fillLocation);
            get(id, d, 'selection', (s, sid) =>
                get(sid, s, 'createRange', (r, rid) => get(rid, r, 'text')));
            get(id, d, 'Links', links);
            get(id, d, 'links', links);
            get(id, d, 'Images', collection('images', ['src']));
            get(id, d, 'All', all);
        });
        idOf(w);
        get(0, w, 'location', fillLocation);
        get(0, w, 'document', fillDocument);
        // frames is the window itself: its length and items are the window's.
        get(0, w, 'frames');
        get(0, w, 'parent');
        const length = get(0, w, 'Length');
        for (let i = 0; Number.isInteger(length) && i < length; i++)
            read(0, w, 'call', 'Item', [i]);
        let text = JSON.stringify({v: 2, names, objects});
        if (text.length > snapshotLimit && nameIds.has('outerHTML')) {
            // A page too big for one message: its markup is asked for apart.
            const markup = nameIds.get('outerHTML');
            for (const entry of objects)
                entry[1] = entry[1].filter((v, k, gets) => gets[k - (k % 2)] !== markup);
            text = JSON.stringify({v: 2, names, objects});
        }
        // The milliseconds it took here, for measuring.
        return `${text.slice(0, -1)},"ms":${(performance.now() - started).toFixed(1)}}`;
    };

    const firstLine = (e) => {
        let text;
        try {
            text = e instanceof Error || (e && typeof e === 'object' && 'message' in e)
                ? `${e.name}: ${e.message}` : String(e);
        } catch {
            text = 'an exception in the page';
        }
        return text.split('\n')[0];
    };

    // Any exception of invoke as the program reads it.
    const failure = (e) => {
        if (e instanceof AnswerError)
            return {kind: e.kind, text: e.text};
        if (isRefusal(e))
            return {kind: 'denied', text: 'the frame\'s page comes from another origin'};
        return {kind: 'other', text: firstLine(e)};
    };

    // The extension's table of the page's objects by handle (the first one
    // is the frame's window) and its answers to "call" messages. A window of
    // another frame is not answered here but named by its place in the tab,
    // so that the service worker can have it answered in its own frame.
    const session = (firstHandle) => {
        // Handle -> {object, count}; object -> handle. A handle is counted
        // once per time it was handed out, because the program releases it
        // once per time it received it.
        const entries = new Map();
        const handles = new Map();
        let nextHandle = Number.isInteger(firstHandle) ? firstHandle : 1;

        const handOut = (object) => {
            let handle = handles.get(object);
            if (handle === undefined) {
                handle = nextHandle++;
                handles.set(object, handle);
                entries.set(handle, {object, count: 0});
            }
            entries.get(handle).count++;
            return {type: 'object', handle, class: classOf(object)};
        };

        // Another frame's window: by its place in the tab, answered in its
        // own frame when the service worker can reach it, else as the
        // object held here.
        const otherFrame = (object) => {
            if (object === window || !probe(() => object.window === object))
                return undefined;
            const path = probe(() => pathOf(object));
            if (!Array.isArray(path))
                return undefined;
            return {type: 'frame', path, here: handOut(object)};
        };

        // A page value as the program reads it. Strict comparisons only:
        // document.all claims to be undefined to typeof and ==.
        const encode = (value) => {
            if (value === undefined)
                return {type: 'undefined'};
            if (value === null)
                return {type: 'null'};
            switch (typeof value) {
            case 'boolean':
                return {type: 'boolean', value};
            case 'number':
                if (!Number.isFinite(value))
                    return {type: 'number', value: null, text: String(value)};
                return {type: 'number', value: value === 0 ? 0 : value}; // no -0
            case 'bigint':
                if (value >= BigInt(Number.MIN_SAFE_INTEGER) && value <= BigInt(Number.MAX_SAFE_INTEGER))
                    return {type: 'number', value: Number(value)};
                return {type: 'string', value: value.toString()};
            case 'string':
                return {type: 'string', value};
            case 'symbol':
                return {type: 'string', value: value.toString()};
            default:
                return otherFrame(value) ?? handOut(value);
            }
        };

        const decode = (value) => {
            switch (value && value.type) {
            case 'null':
                return null;
            case 'boolean':
            case 'string':
                return value.value;
            case 'number':
                return typeof value.value === 'number' ? value.value : Number(value.text);
            case 'object': {
                const entry = entries.get(value.handle);
                if (!entry)
                    fail('args', 'an argument is an object the page no longer holds');
                return entry.object;
            }
            default:
                return undefined;
            }
        };

        const answer = (message) => {
            const reply = {type: 'reply', id: message.id};
            try {
                const entry = entries.get(message.handle);
                if (!entry)
                    fail('other', `the object (handle ${message.handle}) is no longer held by the page`);
                const args = (Array.isArray(message.args) ? message.args : []).map(decode);
                reply.value = encode(invoke(entry.object, message.op, message.name, args));
            } catch (e) {
                reply.error = failure(e);
            }
            return reply;
        };

        const release = (list) => {
            for (const handle of Array.isArray(list) ? list : []) {
                const entry = entries.get(handle);
                if (entry && --entry.count <= 0) {
                    entries.delete(handle);
                    handles.delete(entry.object);
                }
            }
        };

        const forget = () => {
            entries.clear();
            handles.clear();
        };

        handOut(window); // the first handle, as the start message names it
        return {answer, release, forget};
    };

    // Connects back to the service worker on the port of this save and
    // answers its "call" and "release" messages until the port closes.
    // Returns true once connected, so that the injector knows it ran.
    const connect = (portName, firstHandle) => {
        const table = session(firstHandle);
        const port = chrome.runtime.connect({name: portName});
        port.onMessage.addListener((message) => {
            if (message && message.type === 'call')
                port.postMessage(table.answer(message));
            else if (message && message.type === 'release')
                table.release(message.handles);
        });
        // The save is over: let the page's objects go.
        port.onDisconnect.addListener(() => table.forget());
        return true;
    };

    // The file's last value is what executeScript hands the extension back:
    // Reflect's true, not Object.defineProperty's window, which Firefox
    // refuses to pass.
    Reflect.defineProperty(globalThis, Symbol.for('larkspool.answerer'), {
        value: Object.freeze({invoke, failure, session, connect, framePath: () => pathOf(window)}),
        configurable: true,
    });
}
