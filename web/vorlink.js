// Talks to the Vorlink45 desktop agent from a web page. No dependencies:
// copy this file next to your page and import it.
//
//   import { Agent } from "./vorlink.js";
//   const agent = new Agent();
//   const { code, value: token } = await agent.initDLL("PKCS11");
//   const answer = await agent.call(token, "Enumerate_slots");
//
// Every request is a form post to https://localhost:<port>/. The agent
// answers one line, "||code||value||": code 0 means the method ran and value
// is its result; code -1 means the agent could not run it and value says why.
// Answers are returned as { code, value }. Only transport faults throw
// (no agent, an answer that is not an agent's): they throw VorlinkError.

export const DEFAULT_PORTS = Object.freeze([48200, 48201, 48202]);

// The agent takes at most nine parameters per method.
const MAX_PARAMS = 9;

export class VorlinkError extends Error {
  constructor(message) {
    super(message);
    this.name = "VorlinkError";
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

export class Agent {
  #ports;
  #host;
  #fetch;
  #findTimeoutMs;
  #url = null;

  // ports: tried in order until one answers. host: "localhost", which the
  // agent's certificate names. findTimeoutMs: how long one port may take to
  // answer the first request. fetch: for tests.
  constructor({ ports = DEFAULT_PORTS, host = "localhost", findTimeoutMs = 10000, fetch = globalThis.fetch } = {}) {
    if (!ports.length) throw new VorlinkError("no ports to look for the agent on");
    this.#ports = [...ports];
    this.#host = host;
    this.#findTimeoutMs = findTimeoutMs;
    this.#fetch = fetch.bind(globalThis);
  }

  // The agent's address once a request has found it, else null.
  get url() {
    return this.#url;
  }

  // Asks for a component; on success value is the DllToken for call().
  async initDLL(kind = "PKCS11") {
    return this.#post({ InitDLL: kind });
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

  // The first request tries each port in turn; the first one that answers
  // like the agent is kept for every later request. A DllToken belongs to
  // that agent, so once found the client never moves to another port.
  async #post(fields) {
    const body = new URLSearchParams(fields).toString();
    if (this.#url) return this.#send(this.#url, body, 0);
    const failures = [];
    for (const port of this.#ports) {
      const url = `https://${this.#host}:${port}/`;
      try {
        const answer = await this.#send(url, body, this.#findTimeoutMs);
        this.#url = url;
        return answer;
      } catch (e) {
        failures.push(`${port}: ${e.message}`);
      }
    }
    throw new VorlinkError(
      `no Vorlink45 agent answers on https://${this.#host} ports ${this.#ports.join(", ")} ` +
        `(is it running, and does this browser trust its certificate?) [${failures.join("; ")}]`
    );
  }

  async #send(url, body, timeoutMs) {
    const abort = new AbortController();
    const timer = timeoutMs ? setTimeout(() => abort.abort(), timeoutMs) : 0;
    let response;
    let text;
    try {
      response = await this.#fetch(url, {
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
}
