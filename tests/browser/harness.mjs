// Shared pieces of the browser tests: checks, clean-up, free ports, a local origin server,
// build/lumbra started in its own XDG folders, and the Debian Chromium driven by playwright-core.
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const CHROMIUM = '/usr/bin/chromium';
const STARTUP_WAIT_MS = 15_000;
export const PAGE_TIMEOUT_MS = 30_000;

const cleanups = [];
let failures = 0;

export function check(condition, what) {
  console.log(`${condition ? 'ok' : 'FAILED'}: ${what}`);
  if (!condition) failures += 1;
  return condition;
}

export function onCleanUp(step) {
  cleanups.push(step);
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

// Runs main under a watchdog, cleans up whatever it started and exits 0 only when every check
// passed.
export async function runTest(name, main, watchdogMs = 120_000) {
  const watchdog = setTimeout(async () => {
    console.error(`FAILED: test did not finish within ${watchdogMs / 1000} s`);
    await cleanUp();
    process.exit(1);
  }, watchdogMs);
  try {
    await main();
  } catch (error) {
    console.error(`FAILED: ${error.stack ?? error}`);
    failures += 1;
  } finally {
    await cleanUp();
    clearTimeout(watchdog);
  }
  console.log(failures === 0 ? `${name} passed` : `${failures} ${name} check(s) failed`);
  process.exit(failures === 0 ? 0 : 1);
}

export function makeWorkDir(prefix) {
  const workDir = mkdtempSync(path.join(tmpdir(), prefix));
  onCleanUp(() => rmSync(workDir, { recursive: true, force: true }));
  return workDir;
}

export function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Polls predicate (which may be async) until it holds or the time is up; returns its last value.
export async function waitFor(predicate, timeoutMs = 10_000, intervalMs = 100) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await predicate();
    if (value || Date.now() >= deadline) return value;
    await sleep(intervalMs);
  }
}

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

export function canConnect(port) {
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

// An origin server on loopback; handler(request, response) answers, every path is noted.
export async function startOrigin(handler) {
  const requests = [];
  const server = http.createServer((request, response) => {
    requests.push(request.url);
    handler(request, response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  onCleanUp(() => {
    server.closeAllConnections();
    return new Promise((resolve) => server.close(resolve));
  });
  return { port: server.address().port, requests };
}

// A GET through the proxy in absolute form. Resolves { status, body } or { error } when the
// proxy closes the connection without an answer.
export function proxyGet(proxyPort, url, timeoutMs = 10_000) {
  return new Promise((resolve) => {
    const request = http.get({
      host: '127.0.0.1',
      port: proxyPort,
      path: url,
      headers: { Host: new URL(url).host, Connection: 'close' },
      agent: false,
      timeout: timeoutMs,
    });
    request.once('response', (response) => {
      let body = '';
      response.setEncoding('utf8');
      response.on('data', (data) => (body += data));
      response.once('end', () => resolve({ status: response.statusCode, body }));
      response.once('error', (error) => resolve({ error: error.message }));
    });
    request.once('timeout', () => request.destroy(new Error('timed out')));
    request.once('error', (error) => resolve({ error: error.message }));
  });
}

export function hasEnded(child) {
  return child.exitCode !== null || child.signalCode !== null;
}

export function stopProcess(child) {
  if (hasEnded(child)) return Promise.resolve();
  return new Promise((resolve) => {
    const hardKill = setTimeout(() => child.kill('SIGKILL'), 3000);
    child.once('exit', () => {
      clearTimeout(hardKill);
      resolve();
    });
    child.kill('SIGTERM');
  });
}

// Starts build/lumbra with its own XDG folders and the configuration text that
// configText(port) gives for the port asked for (else a free one); resolves once the port
// accepts connections.
export async function startLumbra(workDir, configText, { port: wantedPort, env = {} } = {}) {
  const binary = process.env.LUMBRA_BINARY ?? path.resolve('build/lumbra');
  const configHome = path.join(workDir, 'config');
  const runtimeDir = path.join(workDir, 'runtime');
  const configDirs = path.join(workDir, 'config-dirs');
  const configPath = path.join(configHome, 'Lumbra_Corvane', 'lumbra.xml');
  mkdirSync(path.dirname(configPath), { recursive: true });
  mkdirSync(runtimeDir, { mode: 0o700 });
  const port = wantedPort ?? (await freePort());
  writeFileSync(configPath, configText(port));

  let output = '';
  const child = spawn(binary, [], {
    // XDG_CONFIG_DIRS too, so that an autostart entry never lands in the machine's /etc/xdg.
    env: {
      ...process.env,
      XDG_CONFIG_HOME: configHome,
      XDG_CONFIG_DIRS: configDirs,
      XDG_RUNTIME_DIR: runtimeDir,
      ...env,
    },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  child.stdout.on('data', (data) => (output += data));
  child.stderr.on('data', (data) => (output += data));
  child.once('error', (error) => (output += `spawn failed: ${error.message}\n`));
  onCleanUp(() => stopProcess(child));

  const deadline = Date.now() + STARTUP_WAIT_MS;
  while (Date.now() < deadline) {
    if (hasEnded(child)) break;
    if (await canConnect(port)) {
      return {
        port,
        child,
        configPath,
        configHome,
        configDirs,
        readConfig: () => readFileSync(configPath, 'utf8'),
        output: () => output,
      };
    }
    await sleep(100);
  }
  throw new Error(`lumbra did not listen on 127.0.0.1:${port}; its output:\n${output}`);
}

// Chromium with a fresh profile; proxyPort routes every request, loopback included, through
// Lumbra. env adds to Chromium's environment (HOME names its certificate store).
export async function launchBrowser(workDir, { proxyPort, viewport, env, ignoreHTTPSErrors } = {}) {
  const profileDir = mkdtempSync(path.join(workDir, 'profile-'));
  const args = [
    '--no-sandbox',
    '--disable-gpu',
    '--disable-quic',
    '--no-first-run',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
  ];
  if (proxyPort) {
    args.push(`--proxy-server=http://127.0.0.1:${proxyPort}`, '--proxy-bypass-list=<-loopback>');
  }
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: CHROMIUM,
    headless: true,
    timeout: PAGE_TIMEOUT_MS,
    acceptDownloads: true,
    ignoreHTTPSErrors: ignoreHTTPSErrors ?? false,
    env: { ...process.env, ...env },
    viewport: viewport ?? { width: 1000, height: 700 },
    args,
  });
  onCleanUp(() => context.close());
  return context;
}

// The configuration file in its own layout: declaration, CR LF, one space per level. rules
// holds lines of filterrule elements (without indentation).
export function configText(port, ruleLines = [], enabled = 'yes') {
  const lines = [
    '<?xml version="1.0" encoding="UTF-8"?>',
    ' <lumbra>',
    `  <enabled>${enabled}</enabled>`,
    '  <version>1</version>',
    `  <proxyport>${port}</proxyport>`,
    '  <corporateproxy url="proxy.invalid" port="8080">',
    '   <enabled>no</enabled>',
    '  </corporateproxy>',
    '  <filterrules>',
    ...ruleLines.map((line) => `   ${line}`),
    '  </filterrules>',
    ' </lumbra>',
  ];
  return lines.join('\r\n') + '\r\n';
}
