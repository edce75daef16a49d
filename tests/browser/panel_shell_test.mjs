// "Product update" and "Autorun with Windows" from the control panel in Chromium against
// build/lumbra: the update check's message and its Yes/No question arrive as page dialogs
// (answered from the page, No downloading nothing), and the check box adds and removes the
// autostart entry.
import { existsSync } from 'node:fs';
import path from 'node:path';
import {
  check,
  configText,
  launchBrowser,
  makeWorkDir,
  runTest,
  startLumbra,
  startOrigin,
  waitFor,
} from './harness.mjs';
import { openPanel, waitForState } from './panel_driver.mjs';

const ENTRY = 'Run Lumbra.desktop';

// The update server's answer, changed by the test between checks.
const updateServer = { answer: '' };

async function askForUpdate(page) {
  await page.getByRole('button', { name: 'Product update' }).click();
  const box = page.locator('#message-box');
  await box.waitFor({ state: 'visible', timeout: 15_000 });
  return box;
}

async function checkUpdate(page, origin) {
  updateServer.answer = '1.0.0.1;1;same';
  let box = await askForUpdate(page);
  check((await box.textContent()).includes('You are up-to-date.'), 'the answer shows as a message box');
  check(await page.getByRole('button', { name: 'OK' }).isVisible(), 'a message box has an OK button');
  await page.getByRole('button', { name: 'OK' }).click();
  await box.waitFor({ state: 'hidden' });
  check(await waitForState(page, (state) => state.dialogs.length === 0), 'OK answered the message');

  updateServer.answer = '1.0.0.9;1;"Spring build"';
  box = await askForUpdate(page);
  const text = await box.textContent();
  check(text.includes('An update of binaries is available.') && text.includes('1.0.0.9 (Spring build)'),
    `the Yes/No question shows in the page (${text.trim().replace(/\s+/g, ' ')})`);
  check(await page.getByRole('button', { name: 'Yes' }).isVisible()
    && await page.getByRole('button', { name: 'No', exact: true }).isVisible(), 'the question has Yes and No');
  await page.getByRole('button', { name: 'No', exact: true }).click();
  await box.waitFor({ state: 'hidden' });
  check(await waitForState(page, (state) => state.dialogs.length === 0), 'No answered the question');
  check(!origin.requests.some((url) => url.startsWith('/Update.php')), 'No downloads nothing');
}

async function checkAutorun(page, lumbra) {
  const places = [lumbra.configHome, lumbra.configDirs].map((folder) => path.join(folder, 'autostart', ENTRY));
  const entryExists = () => places.some((place) => existsSync(place));
  check(!entryExists(), 'no autostart entry at first');
  const box = page.getByRole('checkbox', { name: 'Autorun with Windows' });
  await box.check();
  check(await waitFor(entryExists, 5000), 'checking "Autorun with Windows" adds the entry');
  check(await waitForState(page, (state) => state.options.autorun === true), 'the state reports the entry');
  await box.uncheck();
  check(await waitFor(() => !entryExists(), 5000), 'unchecking removes it');
  check(await page.locator('#message-box').isHidden(), 'no failure message');
}

async function main() {
  const workDir = makeWorkDir('lumbra-panel-shell-');
  const origin = await startOrigin((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/plain' });
    response.end(request.url.startsWith('/CurrentVersion.php') ? updateServer.answer : '');
  });
  const lumbra = await startLumbra(workDir, (port) => configText(port), {
    env: { LUMBRA_UPDATE_BASE_URL: `http://127.0.0.1:${origin.port}/` },
  });
  const context = await launchBrowser(workDir);
  const page = await openPanel(context, lumbra.port);
  await page.locator('#tray-icon').dblclick();
  await page.locator('#options').waitFor({ state: 'visible' });
  await checkUpdate(page, origin);
  await checkAutorun(page, lumbra);
  check(lumbra.child.exitCode === null, 'lumbra still running');
}

await runTest('control panel shell check', main);
