// Drives Debian's Chromium (headless, software WebGL) through the web build
// served at BASE_URL:
//
//   frames  each ?at=SECONDS page is drawn and reaches "(ready)"; its
//           screenshot is written to OUT_DIR/web_SECONDS.png for the shell
//           side to compare with the capture tool's frame at the same time
//   errors  no page logs an error: console errors, uncaught exceptions,
//           WebGL's own warnings, shader compile or link lines, failed requests
//   failure a page whose sprox.dat is missing, empty, truncated or random
//           shows why on its error panel and sets "(error)", for a ?at= frame
//           and after Play alike, never "(ready)" or "playing"
//   clock   in real-time play (after a click on Play) the music's audible
//           position advances by the wall time within 5 % over 5 s; the
//           frames the page drew meanwhile give its frame rate
//   keys    Tab (debug mode) and Right (next event), the desktop show's keys,
//           reach the end mark; the page then offers to play again, and
//           Play again starts the show anew
//
// Usage: node browser_check.js BASE_URL BROKEN_URL OUT_DIR SECONDS...
// (BROKEN_URL: the same page and engine, without sprox.dat)
// Prints one line per check; exit status 1 when any fails.
'use strict';
const crypto = require('crypto');
const path = require('path');
const puppeteer = require('puppeteer-core');

const CHROMIUM = process.env.SPROX_CHROMIUM || '/usr/bin/chromium';
const TITLE = 'Keldrun - Sprox';
const LOAD_MS = 120000;        // a page's download, start-up and first frame
const CLOCK_MS = 5000;         // the real-time window of the clock check
const CLOCK_TOLERANCE = 0.05;  // of the wall time
const SETTLE_MS = 1000;        // play before the clock check starts
const LAST_EVENT = 15;         // the end mark: the event after the last scene

// Lines that mean something went wrong, whatever the console level.
const BAD_LINE = /WebGL: |compiler error|link error|Error validating|could not|not found|abort/i;

const [baseUrl, brokenUrl, outDir, ...times] = process.argv.slice(2);
if (!baseUrl || !brokenUrl || !outDir || times.length === 0) {
  console.error('usage: node browser_check.js BASE_URL BROKEN_URL OUT_DIR SECONDS...');
  process.exit(2);
}

let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}

// A page that records every complaint it makes.
async function openPage(browser) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 720 });
  page.complaints = [];
  page.on('console', (m) => {
    if (m.type() === 'error' || BAD_LINE.test(m.text())) page.complaints.push(m.type() + ': ' + m.text());
  });
  page.on('pageerror', (e) => page.complaints.push('exception: ' + e.message));
  page.on('requestfailed', (r) => page.complaints.push('request failed: ' + r.url()));
  page.on('response', (r) => { if (r.status() >= 400) page.complaints.push('HTTP ' + r.status() + ': ' + r.url()); });
  return page;
}

async function frameAt(browser, seconds) {
  const page = await openPage(browser);
  await page.goto(baseUrl + '?at=' + seconds);
  await page.waitForFunction(() => / \((ready|error)\)$/.test(document.title), { timeout: LOAD_MS });
  const title = await page.title();
  check(title === TITLE + ' (ready)', `?at=${seconds}: title "${title}"`);
  await page.screenshot({ path: path.join(outDir, `web_${seconds}.png`) });
  check(page.complaints.length === 0, `?at=${seconds}: no error logged ${page.complaints.slice(0, 5).join(' | ')}`);
  await page.close();
}

// Pages whose data cannot be shown: `body` (from the real file's bytes)
// replaces the sprox.dat served, or `url` serves none at all.
const BROKEN = [
  { what: 'without sprox.dat', url: () => brokenUrl, modes: ['at'], says: /sprox\.dat/ },
  { what: 'an empty sprox.dat', body: () => Buffer.alloc(0), modes: ['at', 'play'], says: /no show data/ },
  { what: 'a truncated sprox.dat', body: (real) => real.subarray(0, 4096), modes: ['at', 'play'], says: /no show data/ },
  { what: 'a random sprox.dat', body: () => crypto.randomBytes(65536), modes: ['at', 'play'], says: /no show data/ },
];

async function failure(browser, broken, mode, real) {
  const page = await openPage(browser);
  const what = `${broken.what} (${mode === 'at' ? '?at=' + times[0] : 'Play'})`;
  if (broken.body) {
    const body = broken.body(real);
    await page.setRequestInterception(true);
    page.on('request', (r) => (/\/sprox\.dat$/.test(r.url())
      ? r.respond({ status: 200, contentType: 'application/octet-stream', body })
      : r.continue()));
  }
  const url = broken.url ? broken.url() : baseUrl;
  if (mode === 'at') {
    await page.goto(url + '?at=' + times[0]);
  } else {
    await page.goto(url);
    await page.waitForFunction(() => document.body.dataset.state === 'loaded', { timeout: LOAD_MS });
    await page.click('#play');
  }
  await page.waitForFunction(() => / \((ready|error)\)$/.test(document.title), { timeout: LOAD_MS });
  const title = await page.title();
  const shown = await page.evaluate(() => !document.getElementById('failed').hidden &&
                                          document.getElementById('message').textContent);
  const state = await page.evaluate(() => document.body.dataset.state || '');
  check(title === TITLE + ' (error)', `${what}: title "${title}"`);
  check(broken.says.test(shown || ''), `${what}: the page says why ("${shown}")`);
  check(state !== 'playing', `${what}: the page is not "playing"`);
  await page.close();
}

async function realTime(browser) {
  const page = await openPage(browser);
  await page.goto(baseUrl);
  await page.waitForFunction(() => document.body.dataset.state === 'loaded', { timeout: LOAD_MS });
  await page.click('#play');
  await page.waitForFunction(() => document.body.dataset.state === 'playing', { timeout: LOAD_MS });
  await new Promise((r) => setTimeout(r, SETTLE_MS));
  // Counts the page's animation frames from here on.
  await page.evaluate(() => {
    window.__frames = 0;
    const tick = () => { window.__frames++; requestAnimationFrame(tick); };
    requestAnimationFrame(tick);
  });
  const read = () => page.evaluate(() => ({ wall: performance.now() / 1000, music: Module._web_playbackseconds(),
                                            frames: window.__frames, state: Module.sproxAudio && Module.sproxAudio.state }));
  const start = await read();
  await new Promise((r) => setTimeout(r, CLOCK_MS));
  const end = await read();
  const wall = end.wall - start.wall, music = end.music - start.music;
  const ratio = music / wall;
  console.log(`clock: audio context ${end.state}, music ${start.music.toFixed(3)} s -> ${end.music.toFixed(3)} s ` +
              `over ${wall.toFixed(3)} s of wall time (ratio ${ratio.toFixed(4)}), ` +
              `${(((end.frames - start.frames) / wall)).toFixed(1)} frames a second`);
  check(end.state === 'running', 'real time: the audio context runs');
  check(Math.abs(ratio - 1) <= CLOCK_TOLERANCE, `real time: the music advances with the wall time (${ratio.toFixed(4)})`);
  check(page.complaints.length === 0, `real time: no error logged ${page.complaints.slice(0, 5).join(' | ')}`);

  await page.keyboard.press('Tab');
  for (let event = 0; event < LAST_EVENT; event++) await page.keyboard.press('ArrowRight');
  const ended = await page.waitForFunction(() => document.body.dataset.state === 'ended', { timeout: LOAD_MS })
    .then(() => true, () => false);
  check(ended && await page.$eval('#end', (e) => !e.hidden), 'keys: Tab and Right reach the end, which offers to play again');
  if (ended) {
    await page.click('#again');
    const again = await page.waitForFunction(() => document.body.dataset.state === 'playing' &&
                                                   Module._web_playbackseconds() < 20, { timeout: LOAD_MS })
      .then(() => true, () => false);
    check(again, 'keys: Play again starts the show from the start');
  }
  await page.close();
}

(async () => {
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: 'new',
    args: ['--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
           '--hide-scrollbars', '--window-size=1280,720', '--autoplay-policy=no-user-gesture-required'],
  });
  try {
    for (const t of times) await frameAt(browser, t);
    const real = Buffer.from(await (await fetch(baseUrl + 'sprox.dat')).arrayBuffer());
    for (const broken of BROKEN) {
      for (const mode of broken.modes) await failure(browser, broken, mode, real);
    }
    await realTime(browser);
  } catch (e) {
    check(false, 'browser: ' + e.message);
  } finally {
    await browser.close();
  }
  process.exit(failures ? 1 : 0);
})();
