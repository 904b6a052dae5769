// Talks to the Vorlink45 desktop agent from a web page. No dependencies:
// copy this file next to your page and import it.
//
//   import { Vorlink } from "./vorlink.js";
//   const agent = await Vorlink.connect();
//   const token = await agent.initDLL("PKCS11");
//   const { code, value } = await agent.call(token, "Login", pin);
//
// Every request is a form post to https://localhost:<port>/. The agent
// answers one line, "||code||value||": code 0 means the method ran and value
// is its result; code -1 means the agent could not run it and value says why.
// call() returns answers as { code, value }. Faults throw VorlinkError: no
// agent, a reply that is not an agent's, and an InitDLL the agent refuses.

export const DEFAULT_PORTS = Object.freeze([48200, 48201, 48202]);

// The agent takes at most nine parameters per method.
const MAX_PARAMS = 9;

export class VorlinkError extends Error {
  // answer: the agent's { code, value } when it answered but refused.
  constructor(message, answer = null) {
    super(message);
    this.name = "VorlinkError";
    this.answer = answer;
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

// Asked on each port while looking for the agent: DllToken 0 is never
// issued, so the agent answers "||-1||...||" and nothing else happens.
const PROBE = "DLLToken=0&ExecMethod=GetVersion";

async function send(fetch, url, body, timeoutMs) {
  const abort = new AbortController();
  const timer = timeoutMs ? setTimeout(() => abort.abort(), timeoutMs) : 0;
  let response;
  let text;
  try {
    response = await fetch(url, {
      method: "POST",
      headers: { "Content-Type": "application/x-www-form-urlencoded" },
      body,
      signal: abort.signal,
    });
    text = await response.text();
  } catch (e) {
    throw new VorlinkError(abort.signal.aborted ? `no answer within ${timeoutMs} ms` : `cannot reach ${url}: ${e.message}`);
  } finally {
    clearTimeout(timer);
  }
  if (!response.ok) throw new VorlinkError(`${url} answered ${response.status}: ${excerpt(text)}`);
  return parseAnswer(text);
}

export class Vorlink {
  #url;
  #fetch;

  // The agent at a known address; Vorlink.connect() finds it.
  constructor(url, { fetch = globalThis.fetch } = {}) {
    this.#url = url;
    this.#fetch = fetch.bind(globalThis);
  }

  // Tries each port in order and returns a client for the first that
  // answers like the agent. A closed port, another server and a port that
  // does not answer within timeoutMs are skipped. host: "localhost", the
  // name on the agent's certificate. fetch: for tests.
  static async connect({ ports = DEFAULT_PORTS, host = "localhost", timeoutMs = 10000, fetch = globalThis.fetch } = {}) {
    if (!ports.length) throw new VorlinkError("no ports to look for the agent on");
    const failures = [];
    for (const port of ports) {
      const url = `https://${host}:${port}/`;
      try {
        await send(fetch.bind(globalThis), url, PROBE, timeoutMs);
        return new Vorlink(url, { fetch });
      } catch (e) {
        failures.push(`${port}: ${e.message}`);
      }
    }
    throw new VorlinkError(
      `no Vorlink45 agent answers on https://${host} ports ${ports.join(", ")} ` +
        `(is it running, and does this browser trust its certificate?) [${failures.join("; ")}]`
    );
  }

  // The agent's address. A DllToken belongs to this agent: the client
  // never moves to another port.
  get url() {
    return this.#url;
  }

  // Asks for a component and returns its DllToken for call(). A refusal
  // throws VorlinkError with the agent's words and its answer.
  async initDLL(kind = "PKCS11") {
    const answer = await this.#post({ InitDLL: kind });
    if (answer.code !== 0 || !/^[1-9]\d*$/.test(answer.value)) {
      throw new VorlinkError(`InitDLL ${kind} refused: ${answer.value}`, answer);
    }
    return answer.value;
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
    return send(this.#fetch, this.#url, new URLSearchParams(fields).toString(), 0);
  }
}
