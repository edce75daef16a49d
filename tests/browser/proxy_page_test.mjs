// Headless Chromium loads a local page through build/lumbra and the DOM shows the ad element
// removed and the window.open call commented out, with the rest of the page intact.
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const CHROMIUM = '/usr/bin/chromium';
const WATCHDOG_MS = 120_000;
const STARTUP_WAIT_MS = 15_000;
const PAGE_TIMEOUT_MS = 30_000;

// The window.open line is the only one holding that text: commented out by the proxy, the
// line does nothing, while the script's other lines still run. The wrapper counts calls
// without naming window.open itself, so the rule leaves it alone.
const PAGE = `<!DOCTYPE html>
<html>
<head><title>Lumbra browser check</title></head>
<body>
<h1 id="headline">Local news</h1>
<div id="ad_top"><a href="/buy">Buy now</a><div class="inner">nested advert</div></div>
<p id="story">The story text stays where it is.</p>
<div id="footer">Footer stays</div>
<script>
var w = window;
w.openCalls = 0;
w['op' + 'en'] = function () { w.openCalls += 1; return null; };
window.open('/popup.html', 'advert'); w.popupLineRan = true;
w.scriptFinished = true;
</script>
</body>
</html>
`;

// Rules in the configuration file's own layout: declaration, CR LF, one space per level.
function configText(port) {
  const lines = [
    '<?xml version="1.0" encoding="UTF-8"?>',
    ' <lumbra>',
    '  <enabled>yes</enabled>',
    '  <version>1</version>',
    `  <proxyport>${port}</proxyport>`,
    '  <corporateproxy url="proxy.invalid" port="8080">',
    '   <enabled>no</enabled>',
    '  </corporateproxy>',
    '  <filterrules>',
    '   <filterrule name="window.open">',
    '    <enabled>yes</enabled>',
    '    <content contains="window.open" action="comment"/>',
    '   </filterrule>',
    '   <filterrule name="top advert">',
    '    <enabled>yes</enabled>',
    '    <content tag="div" attribname="id" attribvalue="ad_top"/>',
    '   </filterrule>',
    '  </filterrules>',
    ' </lumbra>',
  ];
  return lines.join('\r\n') + '\r\n';
}

const cleanups = [];
let failures = 0;

function check(condition, what) {
  console.log(`${condition ? 'ok' : 'FAILED'}: ${what}`);
  if (!condition) failures += 1;
}

async function cleanUp() {
  while (cleanups.length > 0) {
    try {
      await cleanups.pop()();
    } catch (error) {
      console.error(`cleanup: ${error.message}`);
    }
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

function canConnect(port) {
  return new Promise((resolve) => {
    const socket = net.connect({ host: '127.0.0.1', port });
    socket.setTimeout(1000);
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('timeout', () => {
      socket.destroy();
      resolve(false);
    });
    socket.once('error', () => resolve(false));
  });
}

async function startOrigin() {
  const requests = [];
  const server = http.createServer((request, response) => {
    requests.push(request.url);
    if (request.url === '/') {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end(PAGE);
      return;
    }
    response.writeHead(404, { 'Content-Type': 'text/plain' });
    response.end('not here\n');
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  cleanups.push(() => {
    server.closeAllConnections();
    return new Promise((resolve) => server.close(resolve));
  });
  return { port: server.address().port, requests };
}

function stopProcess(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => {
    const hardKill = setTimeout(() => child.kill('SIGKILL'), 3000);
    child.once('exit', () => {
      clearTimeout(hardKill);
      resolve();
    });
    child.kill('SIGTERM');
  });
}

async function startLumbra(workDir) {
  const binary = process.env.LUMBRA_BINARY ?? path.resolve('build/lumbra');
  const configHome = path.join(workDir, 'config');
  const runtimeDir = path.join(workDir, 'runtime');
  mkdirSync(path.join(configHome, 'Lumbra_Corvane'), { recursive: true });
  mkdirSync(runtimeDir, { mode: 0o700 });
  const port = await freePort();
  writeFileSync(path.join(configHome, 'Lumbra_Corvane', 'lumbra.xml'), configText(port));

  let output = '';
  const child = spawn(binary, [], {
    env: { ...process.env, XDG_CONFIG_HOME: configHome, XDG_RUNTIME_DIR: runtimeDir },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  child.stdout.on('data', (data) => (output += data));
  child.stderr.on('data', (data) => (output += data));
  child.once('error', (error) => (output += `spawn failed: ${error.message}\n`));
  cleanups.push(() => stopProcess(child));

  const deadline = Date.now() + STARTUP_WAIT_MS;
  while (Date.now() < deadline) {
    if (child.exitCode !== null || child.signalCode !== null) break;
    if (await canConnect(port)) return { port, child };
    await sleep(100);
  }
  throw new Error(`lumbra did not listen on 127.0.0.1:${port}; its output:\n${output}`);
}

async function launchBrowser(workDir, proxyPort) {
  const profileDir = path.join(workDir, 'profile');
  mkdirSync(profileDir);
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: CHROMIUM,
    headless: true,
    timeout: PAGE_TIMEOUT_MS,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      `--proxy-server=http://127.0.0.1:${proxyPort}`,
      '--proxy-bypass-list=<-loopback>',
    ],
  });
  cleanups.push(() => context.close());
  return context;
}

function readPageState(page) {
  return page.evaluate(() => ({
    title: document.title,
    adPresent: document.getElementById('ad_top') !== null,
    nestedAdPresent: document.querySelector('.inner') !== null,
    headline: document.getElementById('headline')?.textContent ?? null,
    story: document.getElementById('story')?.textContent ?? null,
    footer: document.getElementById('footer')?.textContent ?? null,
    openCalls: window.openCalls ?? null,
    popupLineRan: window.popupLineRan === true,
    scriptFinished: window.scriptFinished === true,
  }));
}

// The same page set straight into the browser, without the proxy, must show the advert and
// the window.open call; otherwise the checks on the proxied page would prove nothing.
async function checkUnfilteredPage(context) {
  const page = await context.newPage();
  await page.setContent(PAGE);
  const state = await readPageState(page);
  await page.close();
  check(state.adPresent && state.nestedAdPresent, 'unfiltered page holds the advert');
  check(state.openCalls === 1 && state.popupLineRan, 'unfiltered page calls window.open');
}

async function checkProxiedPage(context, origin) {
  const page = await context.newPage();
  const response = await page.goto(`http://127.0.0.1:${origin.port}/`, {
    waitUntil: 'load',
    timeout: PAGE_TIMEOUT_MS,
  });
  check(response !== null && response.status() === 200, 'page loaded through the proxy with 200');
  check(origin.requests.includes('/'), 'origin served the page');
  const state = await readPageState(page);
  console.log(`page state: ${JSON.stringify(state)}`);
  check(!state.adPresent, 'advert element removed');
  check(!state.nestedAdPresent, 'element nested in the advert removed with it');
  check(state.title === 'Lumbra browser check', 'title intact');
  check(state.headline === 'Local news', 'headline intact');
  check(state.story === 'The story text stays where it is.', 'story paragraph intact');
  check(state.footer === 'Footer stays', 'footer intact');
  check(state.openCalls === 0, 'window.open not called');
  check(!state.popupLineRan, 'window.open line commented out');
  check(state.scriptFinished, 'rest of the script ran');
  check(!origin.requests.includes('/popup.html'), 'popup never requested');
  await page.close();
}

async function main() {
  const workDir = mkdtempSync(path.join(tmpdir(), 'lumbra-browser-'));
  cleanups.push(() => rmSync(workDir, { recursive: true, force: true }));
  const origin = await startOrigin();
  const lumbra = await startLumbra(workDir);
  const context = await launchBrowser(workDir, lumbra.port);
  await checkUnfilteredPage(context);
  await checkProxiedPage(context, origin);
  check(lumbra.child.exitCode === null && lumbra.child.signalCode === null, 'lumbra still running');
}

const watchdog = setTimeout(async () => {
  console.error(`FAILED: test did not finish within ${WATCHDOG_MS / 1000} s`);
  await cleanUp();
  process.exit(1);
}, WATCHDOG_MS);

try {
  await main();
} catch (error) {
  console.error(`FAILED: ${error.stack ?? error}`);
  failures += 1;
} finally {
  await cleanUp();
  clearTimeout(watchdog);
}
console.log(failures === 0 ? 'browser check passed' : `${failures} browser check(s) failed`);
process.exit(failures === 0 ? 0 : 1);
