// Talks to the Vorlink45 desktop agent from a web page. No dependencies:
// copy this file next to your page and import it.
//
//   import { Vorlink } from "./vorlink.js";
//   const agent = await Vorlink.connect({ onPrompt: () => showHint() });
//   const token = await agent.session("PKCS11");   // one DllToken per page session
//   const { code, value } = await agent.call(token, "Login", pin);
//
// Every request is a form post to https://localhost:<port>/. The agent
// answers one line, "||code||value||": code 0 means the method ran and value
// is its result; code -1 means the agent could not run it and value says why.
// call() returns answers as { code, value }. Faults throw VorlinkError; a
// connect() that finds no agent says why in error.reason (see Reason).

export const DEFAULT_PORTS = Object.freeze([48200, 48201, 48202]);

// Why connect() found no agent: the value of VorlinkError.reason.
export const Reason = Object.freeze({
  // The browser refuses this page access to programs on this computer, and
  // the page is served over plain http (Chromium refuses such pages without
  // asking; Firefox asks as for https pages).
  INSECURE_PAGE: "insecure-page",
  // The browser refuses this site access to programs on this computer: the
  // user chose Block, or a setting or policy says so.
  BLOCKED: "blocked",
  // The browser asked the user and the question was closed without an answer.
  UNANSWERED: "unanswered",
  // A server answers on the port, and it is not the agent.
  NOT_AGENT: "not-agent",
  // Something took the connection and did not answer within timeoutMs.
  NO_ANSWER: "no-answer",
  // Nothing answers, or the browser does not trust the agent's certificate:
  // browsers fail both the same way and do not tell a page which it was.
  NOT_REACHED: "not-reached",
  // The caller's AbortSignal ended the search.
  ABORTED: "aborted",
});

// The agent takes at most nine parameters per method.
const MAX_PARAMS = 9;

// A probe still pending after this long, while the browser has not decided
// the page's local-network permission, means the browser is asking the user.
const PROMPT_AFTER_MS = 1000;

// Asked on each port while looking for the agent: DllToken 0 is never
// issued, so the agent answers "||-1||...||" and nothing else happens.
const PROBE = "DLLToken=0&ExecMethod=GetVersion";
const FORM = { "Content-Type": "application/x-www-form-urlencoded" };

export class VorlinkError extends Error {
  // answer: the agent's { code, value } when it answered but refused.
  // reason: for connect(), one of Reason.
  constructor(message, answer = null, reason = null) {
    super(message);
    this.name = "VorlinkError";
    this.answer = answer;
    this.reason = reason;
  }
}

function excerpt(text) {
  const s = String(text);
  return JSON.stringify(s.length > 60 ? s.slice(0, 60) + "…" : s);
}

// Splits "||code||value||" into { code, value }. The value is everything
// between the second and the last "||", so it may itself contain "||".
export function parseAnswer(text) {
  if (typeof text !== "string" || text.length < 6 || !text.startsWith("||") || !text.endsWith("||")) {
    throw new VorlinkError(`not an agent answer: ${excerpt(text)}`);
  }
  const inner = text.slice(2, -2);
  const split = inner.indexOf("||");
  const code = split < 0 ? "" : inner.slice(0, split);
  if (!/^-?\d{1,10}$/.test(code)) throw new VorlinkError(`not an agent answer: ${excerpt(text)}`);
  return { code: Number(code), value: inner.slice(split + 2) };
}

// The browser's local-network permission for this page (Chromium and
// Firefox call the one that covers localhost "loopback-network"; older
// Chromium "local-network-access"), or null where the browser has none and
// so never asks.
async function localNetworkPermission(permissions) {
  if (!permissions || typeof permissions.query !== "function") return null;
  for (const name of ["loopback-network", "local-network-access"]) {
    try {
      return await permissions.query({ name });
    } catch {
      // not a permission this browser knows
    }
  }
  return null;
}

const undecided = (permission) => permission !== null && permission.state === "prompt";

// Runs fetch() until it settles. The time limit starts only once the
// browser has decided the permission: before that, a pending request may
// be the browser asking the user, who may take as long as they like.
// Resolves to { response, text } or { error, waitedMs, asked, timedOut }.
async function attempt(fetch, url, init, { permission, timeoutMs, signal, onPrompt }) {
  const abort = new AbortController();
  let timedOut = false;
  let timer = 0;
  let asked = false;
  const startClock = () => {
    if (!timer && timeoutMs && !undecided(permission)) {
      timer = setTimeout(() => ((timedOut = true), abort.abort()), timeoutMs);
    }
  };
  const promptTimer = undecided(permission)
    ? setTimeout(() => {
        asked = undecided(permission);
        if (asked && onPrompt) onPrompt();
      }, PROMPT_AFTER_MS)
    : 0;
  const cancel = () => abort.abort();
  signal?.addEventListener("abort", cancel);
  permission?.addEventListener?.("change", startClock);
  startClock();
  const started = Date.now();
  try {
    const response = await fetch(url, { ...init, signal: abort.signal });
    const text = init.mode === "no-cors" ? "" : await response.text();
    return { response, text };
  } catch (error) {
    if (signal?.aborted) throw new VorlinkError("the search for the agent was cancelled", null, Reason.ABORTED);
    return { error, waitedMs: Date.now() - started, asked, timedOut };
  } finally {
    clearTimeout(timer);
    clearTimeout(promptTimer);
    signal?.removeEventListener("abort", cancel);
    permission?.removeEventListener?.("change", startClock);
  }
}

// What one port is: { agent: true } or { kind, detail } with kind one of
// Reason (UNANSWERED, NOT_AGENT, NO_ANSWER, NOT_REACHED).
async function probePort(fetch, url, options) {
  const post = { method: "POST", headers: FORM, body: PROBE };
  const first = await attempt(fetch, url, post, options);
  if (first.response) {
    const { response, text } = first;
    if (!response.ok) return { kind: Reason.NOT_AGENT, detail: `answered ${response.status}: ${excerpt(text)}` };
    try {
      parseAnswer(text);
      return { agent: true };
    } catch (e) {
      return { kind: Reason.NOT_AGENT, detail: e.message };
    }
  }
  if (first.timedOut) return { kind: Reason.NO_ANSWER, detail: `no answer within ${options.timeoutMs} ms` };
  // The request may settle before the status object hears of the user's
  // answer (Firefox under load): ask the browser afresh before taking a
  // Block for a question closed without an answer.
  if (first.asked && undecided(options.permission)) options.permission = await options.requery();
  if (first.asked && undecided(options.permission)) {
    return { kind: Reason.UNANSWERED, detail: `the browser's question was closed after ${first.waitedMs} ms` };
  }
  // A server that answers but does not let this page read it (no CORS
  // headers) is not the agent; a no-cors request tells it from a port
  // where nothing answers or the certificate is not trusted.
  if (options.permission?.state !== "denied") {
    const opaque = await attempt(fetch, url, { ...post, mode: "no-cors" }, options);
    if (opaque.response) return { kind: Reason.NOT_AGENT, detail: "a server that does not let pages read its answers" };
    if (opaque.timedOut) return { kind: Reason.NO_ANSWER, detail: `no answer within ${options.timeoutMs} ms` };
  }
  return { kind: Reason.NOT_REACHED, detail: `${first.error?.name || "Error"}: ${first.error?.message || first.error}` };
}

// The one error connect() throws when no port has the agent: the most
// telling reason among the ports, and what the user can do about it.
function notFound(host, ports, tried, permission, secureContext) {
  const origin = globalThis.location?.origin || "this page";
  const list = `[${tried.map((t) => `${t.port}: ${t.detail}`).join("; ")}]`;
  const where = `https://${host} ports ${ports.join(", ")}`;
  if (permission?.state === "denied") {
    if (secureContext === false) {
      return new VorlinkError(
        `the browser does not let ${origin} reach programs on this computer because the page is served over ` +
          `plain http: serve it over https (Chromium refuses http pages without asking) ${list}`,
        null,
        Reason.INSECURE_PAGE
      );
    }
    return new VorlinkError(
      `the browser blocks ${origin} from reaching apps and services on this device, so it cannot reach the ` +
        `Vorlink45 agent: allow it in the site's settings (the icon at the left of the address bar), then reload ` +
        `the page ${list}`,
      null,
      Reason.BLOCKED
    );
  }
  const first = (kind) => tried.find((t) => t.kind === kind);
  const unanswered = first(Reason.UNANSWERED);
  if (unanswered) {
    return new VorlinkError(
      `the browser asked whether ${origin} may reach apps and services on this device, and the question was ` +
        `closed without an answer: try again and choose Allow ${list}`,
      null,
      Reason.UNANSWERED
    );
  }
  const other = first(Reason.NOT_AGENT);
  if (other) {
    return new VorlinkError(
      `port ${other.port} is taken by a server that is not the Vorlink45 agent, and no agent answers on ${where} ${list}`,
      null,
      Reason.NOT_AGENT
    );
  }
  const silent = first(Reason.NO_ANSWER);
  if (silent) {
    return new VorlinkError(
      `port ${silent.port} took the connection and did not answer, and no agent answers on ${where} ${list}`,
      null,
      Reason.NO_ANSWER
    );
  }
  return new VorlinkError(
    `no Vorlink45 agent answers on ${where}: either none is running, or this browser does not trust its ` +
      `certificate (browsers do not tell a page which). Open https://${host}:${ports[0]}/ in a new tab: ` +
      `a certificate warning means the browser does not trust the agent; "unable to connect" means no agent runs ` +
      list,
    null,
    Reason.NOT_REACHED
  );
}

// One request to an agent already found: no time limit (a call may wait
// for the user at the token or in a dialog).
async function send(fetch, url, body) {
  let response;
  let text;
  try {
    response = await fetch(url, { method: "POST", headers: FORM, body });
    text = await response.text();
  } catch (e) {
    throw new VorlinkError(`cannot reach ${url}: ${e.message}`);
  }
  if (!response.ok) throw new VorlinkError(`${url} answered ${response.status}: ${excerpt(text)}`);
  return parseAnswer(text);
}

function sessionStore(storage) {
  try {
    return storage === undefined ? globalThis.sessionStorage || null : storage;
  } catch {
    return null;  // storage refused (a sandboxed frame): tokens live as long as the page
  }
}

export class Vorlink {
  #url;
  #fetch;
  #storage;
  #sessions = new Map();

  // The agent at a known address; Vorlink.connect() finds it. storage: where
  // session() keeps DllTokens across reloads (sessionStorage; null: nowhere).
  constructor(url, { fetch = globalThis.fetch, storage = undefined } = {}) {
    this.#url = url;
    this.#fetch = fetch.bind(globalThis);
    this.#storage = sessionStore(storage);
  }

  // Tries each port in order and returns a client for the first that
  // answers like the agent. While the browser asks the user whether this
  // page may reach programs on this computer, it waits (onPrompt() is called
  // once, so the page can say what to choose); timeoutMs limits only the
  // wait for an answer once the browser lets the request through. signal: an
  // AbortSignal that ends the search. host: "localhost", the name on the
  // agent's certificate. fetch, permissions, secureContext, storage: for tests.
  static async connect({
    ports = DEFAULT_PORTS,
    host = "localhost",
    timeoutMs = 10000,
    signal = undefined,
    onPrompt = undefined,
    fetch = globalThis.fetch,
    permissions = globalThis.navigator?.permissions,
    secureContext = globalThis.isSecureContext,
    storage = undefined,
  } = {}) {
    if (!ports.length) throw new VorlinkError("no ports to look for the agent on");
    const options = {
      permission: await localNetworkPermission(permissions),
      requery: () => localNetworkPermission(permissions),
      timeoutMs,
      signal,
      onPrompt: once(onPrompt),
    };
    const tried = [];
    for (const port of ports) {
      const url = `https://${host}:${port}/`;
      const found = await probePort(fetch.bind(globalThis), url, options);
      if (found.agent) return new Vorlink(url, { fetch, storage });
      tried.push({ port, ...found });
      // Refused by the browser: every other port would be refused alike.
      if (options.permission?.state === "denied" || found.kind === Reason.UNANSWERED) break;
    }
    throw notFound(host, ports, tried, options.permission, secureContext);
  }

  // The agent's address. A DllToken belongs to this agent: the client
  // never moves to another port.
  get url() {
    return this.#url;
  }

  // Asks for a new component and returns its DllToken for call(). Every
  // call starts a component that lives until it has been idle for 600
  // minutes or the agent stops: a page needs one, from session(). A refusal
  // throws VorlinkError with the agent's words and its answer.
  async initDLL(kind = "PKCS11") {
    const answer = await this.#post({ InitDLL: kind });
    if (answer.code !== 0 || !/^[1-9]\d*$/.test(answer.value)) {
      throw new VorlinkError(`InitDLL ${kind} refused: ${answer.value}`, answer);
    }
    return answer.value;
  }

  // The page's DllToken for this kind of component: asked for once, kept
  // for the page's session (also across reloads of the tab, in
  // sessionStorage) and asked for again only when the agent no longer knows
  // it (it expired, or the agent restarted).
  session(kind = "PKCS11") {
    if (!this.#sessions.has(kind)) {
      const opening = this.#openSession(kind);
      opening.catch(() => this.#sessions.delete(kind));
      this.#sessions.set(kind, opening);
    }
    return this.#sessions.get(kind);
  }

  async #openSession(kind) {
    const key = `vorlink45 ${this.#url} ${kind}`;
    const kept = this.#storage?.getItem(key);
    if (kept && (await this.call(kept, "get_getErrorMsg")).code === 0) return kept;
    const token = await this.initDLL(kind);
    this.#storage?.setItem(key, token);
    return token;
  }

  // Calls a component method (or a "get_..." property) by name.
  async call(token, method, ...params) {
    if (params.length > MAX_PARAMS) {
      throw new VorlinkError(`${method}: at most ${MAX_PARAMS} parameters, got ${params.length}`);
    }
    const fields = { DLLToken: String(token), ExecMethod: method };
    params.forEach((p, i) => (fields[`Param${i + 1}`] = p === undefined || p === null ? "" : String(p)));
    return this.#post(fields);
  }

  #post(fields) {
    return send(this.#fetch, this.#url, new URLSearchParams(fields).toString());
  }
}

function once(callback) {
  let called = false;
  return () => {
    if (called || typeof callback !== "function") return;
    called = true;
    callback();
  };
}
