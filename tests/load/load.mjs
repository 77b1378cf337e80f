// Load on the demo's real web server: N clients for S seconds mixing status,
// page, start, finish, cancel and refresh against the stand-in CLIs. Counts
// every request, fails on any transfer error, any HTTP status other than 200,
// any JSON reply that does not parse, and any moment the credentials file is
// found half-written or gone after a sign-in.
//
//   node load.mjs BASE_URL NODE_HOME CLIENTS SECONDS
import { readFileSync } from 'node:fs';
import { createHash } from 'node:crypto';

const [base, home, clients = '8', seconds = '30'] = process.argv.slice(2);
const creds = `${home}/.quorin/.credentials.json`;
let deadline = 0;
const counts = {};
const problems = [];
let signedIn = false;

// The code the stand-in sign-in page shows for a state.
function codeFor(state) {
  let h = 0x811c9dc5;
  for (const c of Buffer.from('quorin-standin:' + state)) {
    h ^= c;
    h = Math.imul(h, 0x01000193) >>> 0;
  }
  return 'qc_' + h.toString(16).padStart(8, '0');
}

function checkCredentials(when) {
  if (!signedIn) return;
  let text;
  try {
    text = readFileSync(creds, 'utf8');
  } catch (e) {
    problems.push(`${when}: credentials file unreadable: ${e.code}`);
    return;
  }
  try {
    const o = JSON.parse(text).quorinAiOauth;
    if (!o || !o.accessToken || !(o.expiresAt > 0)) throw new Error('incomplete');
  } catch (e) {
    problems.push(`${when}: credentials file damaged: ${e.message}: ${text.slice(0, 80)}`);
  }
}

async function call(kind, query) {
  counts[kind] = (counts[kind] || 0) + 1;
  let res, body;
  try {
    res = await fetch(`${base}/plugin_quorincode_login${query}`);
    body = await res.text();
  } catch (e) {
    problems.push(`${kind}: transfer failed: ${e.message}`);
    return null;
  }
  if (res.status !== 200) problems.push(`${kind}: HTTP ${res.status}`);
  if (kind === 'page') {
    if (!body.startsWith('<!DOCTYPE html>')) problems.push('page: not the console page');
    return null;
  }
  try {
    return JSON.parse(body);
  } catch {
    problems.push(`${kind}: reply is not JSON: ${body.slice(0, 80)}`);
    return null;
  }
}

async function client(id) {
  const steps = ['status', 'page', 'signin', 'refresh', 'status', 'cancel', 'signin'];
  for (let i = id; Date.now() < deadline; i++) {
    const step = steps[i % steps.length];
    if (step === 'status') await call('status', '?action=status');
    else if (step === 'page') await call('page', '');
    else if (step === 'cancel') await call('cancel', '?action=cancel');
    else if (step === 'refresh') {
      const r = await call('refresh', '?action=refresh');
      if (r && r.ok) counts.refreshed = (counts.refreshed || 0) + 1;
      checkCredentials('after refresh');
    } else {
      const s = await call('start', i % 3 ? '?action=start' : '?action=start&force=1');
      const state = s && s.ok ? new URL(s.auth_url).searchParams.get('state') : null;
      if (!state) continue;
      const redirect = `${base}/callback?code=${codeFor(state)}&state=${state}`;
      const f = await call('finish', `?action=finish&code=${encodeURIComponent(redirect)}`);
      if (f && f.ok) {
        signedIn = true;
        counts.signed_in = (counts.signed_in || 0) + 1;
      }
      checkCredentials('after finish');
    }
  }
}

// The server may still be starting.
for (let tries = 0; ; tries++) {
  try {
    await fetch(`${base}/plugin_quorincode_login?action=status`);
    break;
  } catch (e) {
    if (tries > 100) throw e;
    await new Promise((r) => setTimeout(r, 100));
  }
}

const started = Date.now();
deadline = started + Number(seconds) * 1000;
await Promise.all(Array.from({ length: Number(clients) }, (_, i) => client(i)));
const elapsed = (Date.now() - started) / 1000;
const requests = ['status', 'page', 'start', 'finish', 'cancel', 'refresh']
  .reduce((n, k) => n + (counts[k] || 0), 0);
console.log(JSON.stringify({ clients: Number(clients), seconds: elapsed, requests,
  per_second: Math.round(requests / elapsed), counts, errors: problems.length }));
for (const p of problems.slice(0, 20)) console.error(p);
process.exit(problems.length === 0 && signedIn ? 0 : 1);
