// The console's state table, without a browser: the pure part of the page's
// script (its state, what each answer does to it, and the view drawn from it)
// taken from page.html and run here. Every state must say one thing once,
// name only controls that are shown and usable, and offer one next step.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { test } from 'node:test';
import vm from 'node:vm';

process.env.TZ = 'UTC';
const html = fs.readFileSync(new URL('./page.html', import.meta.url), 'utf8');
const pure = html.slice(html.indexOf('<script>\n') + 9, html.indexOf('// ---- The page:'));
const page = vm.createContext({});
vm.runInContext(pure, page);
const { LABELS, PASSWORD_STEP, newState, gotStatus, statusFailed, sent, gotStart, gotFinish, gotRefresh, gotCancel, gotFailure, linkRanOut } = page;
// Plain values: the page's objects come from another realm.
const view = (S) => JSON.parse(JSON.stringify(page.view(S)));

const T0 = Date.parse('2026-03-05T14:12:00Z');
const doc = (fields = {}) => ({
  ok: true, logged_in: false, expired: false, expires_in_sec: 0, expires_at: 0, has_refresh: false, account: '',
  pending: false, cli_present: true, credentials_path: 'C:\\q\\.credentials.json', profile: '', profile_exists: false,
  subscription: '', accounts: [], ...fields,
});
const NONE = doc();
const SIGNED = doc({ logged_in: true, has_refresh: true, expires_in_sec: 11532, expires_at: 1772730720000, account: 'me', subscription: 'team' });
const EXPIRED = { ...SIGNED, expires_in_sec: -60, expired: true };
const PENDING = doc({ pending: true });
const RENEWED = { ...SIGNED, expires_in_sec: 28800, expires_at: SIGNED.expires_at + 17268000 };
const REJECTED = 'Quorin rejected the code, or it has already been used or has expired';

// A state: the status drawn at T0 by call 1, then what happened (calls 2 on).
function state(status, acct = '', ...events) {
  const S = newState(acct);
  if (status) read(status)(S);
  S.now = T0;
  for (const e of events) e(S);
  return S;
}
const read = (status) => (S) => gotStatus(S, status, ++S.calls, T0);
// The action of button id sent as the next call, then answered by got(S, n);
// with a status read sent while it runs, answered first or (late) after it.
const act = (id, got, during, late) => (S) => {
  sent(S, id);
  const n = ++S.calls, r = ++S.calls;
  if (during && !late) gotStatus(S, during, r, T0);
  got(S, n);
  if (during && late) gotStatus(S, during, r, T0);
};
const LINK = { ok: true, auth_url: 'https://signin.example.test/a?state=1', expires_in: 600 };
const started = act('btnStart', (S, n) => gotStart(S, 'btnStart', LINK, n, T0));
const finished = (d, ...read) => act('btnFinish', (S, n) => gotFinish(S, d, n, T0), ...read);
const opened = (S) => (S.opened = true);
const fail = (id, error, detail = REJECTED) => act(id, (S, n) => gotFailure(S, id, error && { ok: false, error, detail, lost: /^bad/.test(error) }, detail, n));
const busy = (id) => (S) => (S.busy[id] = true);
// The action of button id answered only after what happened meanwhile.
const slow = (id, got, ...meanwhile) => (S) => {
  sent(S, id);
  const n = ++S.calls;
  for (const e of meanwhile) e(S);
  got(S, n);
};
const relogin = act('btnRelogin', (S, n) => gotStart(S, 'btnRelogin', LINK, n, T0));
const lost502 = (S) => statusFailed(S, 'bad response (HTTP 502)', { ok: false, error: 'bad response (HTTP 502)', lost: true });

// Every text in sight: [where, text].
const said = (v) =>
  [...Object.entries(v.texts).filter(([id]) => id !== 'authUrl'),
    ...Object.entries(v.notes).filter(([, m]) => m).flatMap(([id, m]) => [[id, m.text], [`${id} next`, m.next]])]
    .filter(([, t]) => t);

const ROWS = [
  // name, state → pill, primary action, texts that must show, texts that must not
  ['before any answer', state(null), 'Checking', 'btnStart', ['Reading the local Quorin Code credentials.'], []],
  ['no session', state(NONE), 'Not Connected', 'btnStart', ['No Quorin Code session on this node yet. Start a login below.'], ['refresh']],
  ['no session on a named account, the default one signed in',
    state(doc({ accounts: [{ name: 'work', logged_in: false }] }), 'work'), 'Not Connected', 'btnStart',
    ['Account work has no Quorin Code session yet. Start a login below.'], ['on this node']],
  ['no session on the default account, a named one signed in',
    state(doc({ accounts: [{ name: 'work', logged_in: true, expires_in_sec: 60 }] })), 'Not Connected', 'btnStart',
    ['The default account has no Quorin Code session yet.'], ['on this node']],
  ['a list of accounts that is no list', state(doc({ accounts: 'x' })), 'Not Connected', 'btnStart', ['No Quorin Code session on this node yet.'], ['default']],
  ['pending, its link known', state(PENDING, '', started), 'Signing in', 'linkOpen',
    ['No Quorin Code session on this node yet. A sign-in is under way below.', 'paste the code within 10:00.'], ['Start', 'Show the link again']],
  ['pending, its link opened', state(PENDING, '', started, opened), 'Signing in', 'btnFinish', [], []],
  ['pending, its link not known (a reload, a second tab)', state(PENDING), 'Signing in', 'btnAgain',
    ['This view does not know the link of this sign-in. Show the link again asks the login CLI for it'], ['Start', 'within']],
  ['pending, this view\'s own start still under way', state(PENDING, '', busy('btnStart')), 'Signing in', '', ['or press Cancel.'], ['Show the link again asks']],
  ['signed in', state(SIGNED), 'Logged In', '', ['This node holds a Quorin Code session.', 'Re-login (replace) asks'], ['expired', 'refresh token']],
  ['signed in, re-login under way', state({ ...SIGNED, pending: true }, '', started), 'Logged In', 'linkOpen', [], ['Re-login']],
  ['expired, with a refresh token', state(EXPIRED), 'Expired', 'btnRefresh',
    ['The session is present but its access token has expired. Use Refresh Token Now.'], ['Start Quorin Login']],
  ['expired, without a refresh token', state({ ...EXPIRED, has_refresh: false }), 'Expired', 'btnStart',
    ['No refresh token is stored, so this session cannot be renewed here.', 'Sign in again with Start Quorin Login.'], ['Use Refresh']],
  ['expired, a sign-in pending without its link', state({ ...EXPIRED, pending: true }), 'Expired', 'btnAgain', ['A sign-in is under way below.'], ['Use Refresh']],
  ['expired, refreshing', state(EXPIRED, '', busy('btnRefresh')), 'Expired', 'btnRefresh', [], ['Use Refresh', 'Start Quorin Login']],
  ['login CLI missing', state(doc({ cli_present: false })), 'Not Connected', '', ['The login CLI is not on this node'], ['Start a login']],
  ['login CLI missing, a sign-in pending', state(doc({ cli_present: false, pending: true })), 'Not Connected', '',
    ['so no sign-in can start or be finished.'], ['Paste', 'Cancel', 'under way']],
  ['a start finds the login CLI missing', state(NONE, '', fail('btnStart', 'cli_unavailable', 'the login CLI is not on this node')),
    'Not Connected', '', ['The login CLI is not on this node, so no sign-in can start.'], ['the login CLI is not']],
  ['a start finds the login CLI there but not runnable',
    state(NONE, '', fail('btnStart', 'cli_unavailable', 'the login CLI /opt/q/login cannot be run: give it execute permission (chmod +x /opt/q/login)')),
    'Not Connected', 'btnStart', ['cannot be run: give it execute permission (chmod +x /opt/q/login)'], ['is not on this node']],
  ['a refresh finds the refresh CLI missing', state(EXPIRED, '', fail('btnRefresh', 'cli_unavailable', 'the refresh CLI is not on this node')),
    'Expired', 'btnStart', ['The refresh CLI is not on this node, so the token', 'Sign in again with Start Quorin Login.'], ['the refresh CLI is not']],
  ['a refused code', state(PENDING, '', started, fail('btnFinish', 'invalid_grant')), 'Signing in', 'linkOpen',
    [REJECTED, 'Check that the whole code was copied, or press Cancel and start again.'], []],
  ['an expired sign-in', state(PENDING, '', started, fail('btnFinish', 'login_expired')), 'Not Connected', 'btnStart',
    ['The sign-in expired. Press Start Quorin Login to start again.'], ['under way']],
  ['no sign-in waiting', state(PENDING, '', fail('btnFinish', 'no_pending_login')), 'Not Connected', 'btnStart',
    ['No sign-in is waiting for a code. Press Start Quorin Login to start one.'], []],
  ['a login CLI that did not answer in time', state(PENDING, '', started, opened, fail('btnFinish', 'finish_failed', 'the login CLI did not finish within 45 s')),
    'Signing in', 'btnFinish', ['Try again. If it keeps happening'], []],
  ['the link ran out', state(PENDING, '', started, linkRanOut), 'Not Connected', 'btnStart',
    ['The sign-in link has expired.', 'Press Start Quorin Login to start again.'], ['within']],
  ['the clipboard refused', state(PENDING, '', started, (S) => (S.copyHelp = true)), 'Signing in', 'linkOpen', ['The link above is selected: press Ctrl+C'], []],
  ['a refresh the CLI could not do', state(EXPIRED, '', fail('btnRefresh', 'refresh_failed', 'the refresh CLI did not update the credentials file')),
    'Expired', 'btnRefresh', ['the refresh CLI did not update the credentials file'], []],
  ['an action from another site', state(SIGNED, '', fail('btnRefresh', 'cross_site_request', 'another site')), 'Logged In', '',
    ['Open this console from the node\'s own address or from the hub, then try again.'], []],
  ['an action refused by the node password', state(SIGNED, '', fail('btnRefresh', 'invalid node password', '')), 'No access', '', [PASSWORD_STEP], []],
  ['a sign-in refused by the node password, then a web server\'s 502', state(PENDING, '', started, fail('btnFinish', 'invalid node password', ''), lost502),
    'No access', '', [PASSWORD_STEP], ['within']],
  ['the status refused by the node password', state(null, '', (S) => statusFailed(S, 'invalid node password', { unauthorized: true })),
    'No access', '', [PASSWORD_STEP], ['Reading']],
  ['the status not read at all', state(null, '', (S) => statusFailed(S, 'Status failed: Failed to fetch', null)), 'Unknown', 'btnReload',
    ['The status could not be read. Press Reload to try again.'], ['Reading']],
  // Answers that cross: each speaks of the node as it was when it was read.
  ['a finish answered after a status read sent during it', state(PENDING, '', started, finished(SIGNED, PENDING)), 'Logged In', '',
    ['This node holds a Quorin Code session.'], ['under way', 'within']],
  ['a status read sent during a finish, answered after it', state(PENDING, '', started, finished(SIGNED, PENDING, true)), 'Logged In', '', [], ['under way']],
  ['a refresh answered after a status read sent during it', state(EXPIRED, '', act('btnRefresh', (S, n) => gotRefresh(S, RENEWED, n, T0), EXPIRED)),
    'Logged In', '', ['Token refreshed. Expires in 8 h.'], ['expired']],
  ['a start answered after a Cancel made since', state(NONE, '', act('btnStart', (S, n) => (gotCancel(S, ++S.calls), gotStart(S, 'btnStart', LINK, n, T0)), PENDING)),
    'Not Connected', 'btnStart', [], ['within']],
  ['a refresh answered after a Re-login and the read after it, its document from before',
    state(EXPIRED, '', slow('btnRefresh', (S, n) => gotRefresh(S, RENEWED, n, T0), relogin, read({ ...EXPIRED, pending: true }))),
    'Logged In', 'linkOpen', ['Token refreshed. Expires in 8 h.', 'within 10:00'], []],
  ['the sign-in finished in another tab', state(PENDING, '', started, read(PENDING), read(SIGNED)), 'Logged In', '', [], ['within']],
  ['the sign-in cancelled in another tab', state(PENDING, '', started, read(PENDING), read(NONE)), 'Not Connected', 'btnStart', [], ['within']],
  ['a refresh answered by a web server\'s 502, the token renewed all the same', state(EXPIRED, '', fail('btnRefresh', 'bad response (HTTP 502)', 'bad response (HTTP 502)'), read(RENEWED)),
    'Logged In', '', [], ['bad response']],
  ['an exchange whose answer was lost, the sign-in done all the same', state(PENDING, '', started, read(PENDING), fail('btnFinish', null, 'Exchange failed: Failed to fetch'), read(SIGNED)),
    'Logged In', '', [], ['Exchange failed', 'within']],
];

test('each state: its pill, one next step, and texts that say each thing once and name only usable controls', () => {
  for (const [name, S, pill, primary, must, mustNot] of ROWS) {
    const v = view(S), texts = said(v), all = texts.map(([, t]) => t).join('\n');
    assert.deepEqual([v.pill[1], v.primary], [pill, primary], name);
    const blue = Object.entries(v.ctl).filter(([, c]) => c.show && !c.cls.includes('ghost')).map(([id]) => id);
    assert.deepEqual(blue, primary ? [primary] : [], `${name}: blue buttons`);
    for (const m of must) assert.ok(all.includes(m), `${name}: "${m}" not in\n${all}`);
    for (const m of mustNot) assert.ok(!all.includes(m), `${name}: "${m}" in\n${all}`);
    for (const [where, t] of texts) {
      for (const [id, label] of Object.entries(LABELS)) {
        if (t.includes(label)) assert.ok(v.ctl[id].show && !v.ctl[id].off, `${name}: ${where} names ${label}, which cannot be used`);
      }
      assert.doesNotMatch(t, /undefined|NaN|\[object/, `${name}: ${where}`);
    }
    const sentences = texts.flatMap(([, t]) => t.split(/(?<=\.) /));
    assert.deepEqual(sentences.filter((x, i) => sentences.indexOf(x) !== i), [], `${name}: said twice`);
    for (const c of Object.values(v.ctl)) if (c.off && !c.text.endsWith('...')) assert.ok(c.why === '' || v.texts[c.why], `${name}: a control off without a reason shown`);
  }
  const off = [
    [state(NONE, '', busy('btnStart')), 'btnRelogin', 'one start at a time'],
    [state(PENDING, '', started, busy('btnFinish')), 'btnCancel', 'no cancel beside an exchange'],
  ];
  for (const [S, id, why] of off) assert.ok(view(S).ctl[id].off, why);
});

test('what the session card shows of the remaining time', () => {
  const cases = [
    // status fields, seconds since the read → figure, bar, fill, "Token expires", pill
    [{ expires_in_sec: 11532 }, 0, '3 <small>hours &middot; 12m</small>', 'bar', '40%', '17:24', 'Logged In'],
    [{ expires_in_sec: 57600 }, 0, '16 <small>hours &middot; 0m</small>', 'bar', '100%', '2026-03-06 06:12', 'Logged In'],
    [{ expires_in_sec: 5616 }, 0, '1 <small>hour &middot; 33m</small>', 'bar', '20%', '15:45', 'Logged In'],
    [{ expires_in_sec: 5616 }, 1, '1 <small>hour &middot; 33m</small>', 'bar warn', '19%', '15:45', 'Logged In'],
    [{ expires_in_sec: 30 }, 0, '30 <small>seconds</small>', 'bar warn', '2%', '14:12', 'Logged In'],
    [{ expires_in_sec: 30 }, 30, 'expired', 'bar err', '0%', 'expired at 14:12', 'Expired'], // ran out: a read is due
    [{ expires_in_sec: 0 }, 0, '-', 'bar warn', '0%', 'expired', 'Logged In'],
    [{ expires_in_sec: 20000, expired: true }, 0, 'expired', 'bar err', '69%', 'expired at 19:45', 'Expired'],
  ];
  for (const [fields, gone, ...want] of cases) {
    const S = state({ ...SIGNED, ...fields });
    S.now = T0 + gone * 1000;
    const v = view(S);
    assert.deepEqual([v.count, v.bar, v.fill, v.grid[2][1], v.pill[1]], want, JSON.stringify([fields, gone]));
    assert.equal(v.ranOut, gone > 0 && gone >= fields.expires_in_sec, 'a read is due');
  }
  const none = view(state(NONE));
  assert.deepEqual([none.time, none.grid.map((r) => r[0])], [false, ['Login CLI', 'Profile', 'Credentials']]);
  assert.deepEqual(view(state(SIGNED)).grid.map((r) => r[0]), ['Account', 'Refresh token', 'Token expires', 'Subscription', 'Login CLI', 'Profile', 'Credentials']);
});

test('a note goes once the facts it speaks of change; an answer to an older call changes nothing', () => {
  const S = state(PENDING, '', started, fail('btnFinish', 'invalid_grant')); // calls 1 to 5
  const steps = [
    // status, the call it answers → drawn, the login note kept
    [NONE, 5, false, true], // asked before the refusal came: older news
    [PENDING, 6, true, true], // the facts the note is measured against
    [{ ...PENDING, account: 'x' }, 7, true, true], // another fact: it stays
    [NONE, 8, true, false], // the sign-in ended
  ];
  for (const [status, n, drawn, kept] of steps) {
    assert.equal(gotStatus(S, status, n, T0), drawn, `call ${n}`);
    assert.equal(!!S.notes.loginNote, kept, `call ${n}`);
  }

  // A refresh that found no credentials file: the note goes once a read shows one.
  const R = state(NONE, '', read(SIGNED), fail('btnRefresh', 'no_credentials', 'there is no credentials file'));
  gotStatus(R, { ...NONE, credentials_path: 'x' }, 5, T0);
  assert.ok(R.notes.refreshNote);
  gotStatus(R, SIGNED, 6, T0);
  assert.equal(R.notes.refreshNote, null);

  // Cancel after a refused code: a status asked before the cancel lands after it.
  const C = state(PENDING, '', started, fail('btnFinish', 'invalid_grant'));
  C.calls = 7; // a read (6), then a cancel (7)
  gotCancel(C, 7);
  assert.equal(gotStatus(C, PENDING, 6, T0), false);
  const v = view(C);
  assert.deepEqual([v.step, v.notes.loginNote, v.pill[1]], [1, null, 'Not Connected']);
});

test('fmtExpiry and countdown', () => {
  const expiry = [
    [null, '-'], ['90', '-'], [0, 'expired'], [-5, 'expired'], [1, '1s'], [89, '89s'], [90, '2 min'], [5399, '90 min'],
    [5400, '2 h'], [172799, '48 h'], [172800, '2 d'], [63071999, '730 d'], [63072000, '2 yr'],
  ];
  const count = [
    [undefined, '-'], ['3600', '-'], [0, '-'], [-1, '-'], [1, '1 <small>second</small>'], [45, '45 <small>seconds</small>'],
    [60, '1 <small>minute &middot; 0s</small>'], [3599, '59 <small>minutes &middot; 59s</small>'], [3600, '1 <small>hour &middot; 0m</small>'],
    [86700, '1 <small>day &middot; 0h 5m</small>'], [172800, '2 <small>days &middot; 0h 0m</small>'],
  ];
  assert.deepEqual(expiry.map(([s]) => page.fmtExpiry(s)), expiry.map((c) => c[1]));
  assert.deepEqual(count.map(([s]) => page.countdown(s)), count.map((c) => c[1]));
});
