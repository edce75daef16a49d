// The recorder and Instant filtering from the control panel in Chromium against build/lumbra:
// Start, Pause, Resume, Stop and "Save record as..." (the download is the record of a request
// made through the proxy while recording, named record<N>.xml with N advancing), and an Instant
// filtering choice that lands in "Personal rules" and is obeyed by the proxy.
import { readFileSync } from 'node:fs';
import {
  check,
  configText,
  launchBrowser,
  makeWorkDir,
  proxyGet,
  runTest,
  sleep,
  startLumbra,
  startOrigin,
  waitFor,
} from './harness.mjs';
import {
  chooseFromTrayMenu,
  openPanel,
  panelState,
  trayMenuRowsNow,
  waitForState,
  waitForTip,
} from './panel_driver.mjs';

async function saveRecord(page) {
  const download = page.waitForEvent('download');
  await chooseFromTrayMenu(page, 'Save record as...');
  const file = await download;
  return { name: file.suggestedFilename(), text: readFileSync(await file.path(), 'utf8') };
}

async function record(page, lumbra, origin) {
  await chooseFromTrayMenu(page, 'Start recorder');
  await waitForState(page, (state) => state.recorder.state === 2);
  const answer = await proxyGet(lumbra.port, `http://127.0.0.1:${origin.port}/recorded-page?item=42`);
  check(answer.status === 200, 'request through the proxy while recording answered');

  await chooseFromTrayMenu(page, 'Pause recorder');
  await waitForState(page, (state) => state.recorder.state === 1);
  let rows = await trayMenuRowsNow(page);
  check(rows.includes('Resume recorder') && rows.includes('Save record as...'),
    `paused: ${rows.join(' | ')}`);
  await proxyGet(lumbra.port, `http://127.0.0.1:${origin.port}/while-paused`);
  await chooseFromTrayMenu(page, 'Resume recorder');
  await waitForState(page, (state) => state.recorder.state === 2);
  await chooseFromTrayMenu(page, 'Stop recorder');
  await waitForState(page, (state) => state.recorder.state === 0);
  rows = await trayMenuRowsNow(page);
  check(rows.includes('Start recorder') && rows.includes('Save record as...') && !rows.includes('Stop recorder'),
    `stopped with a record: ${rows.join(' | ')}`);

  const first = await saveRecord(page);
  check(first.name === 'record1.xml', `download named ${first.name}`);
  check(first.text.includes('/recorded-page?item=42'), 'the record holds the request made while recording');
  check(!first.text.includes('/while-paused'), 'nothing was recorded while paused');
  const second = await saveRecord(page);
  check(second.name === 'record2.xml', `the record number advances (${second.name})`);
}

async function instantFilter(context, page, lumbra, origin) {
  const target = `http://127.0.0.1:${origin.port}/blocked-next`;
  check((await proxyGet(lumbra.port, target)).status === 200, 'the page passes before the choice');
  await chooseFromTrayMenu(page, 'Instant filtering');
  const dialog = page.getByRole('dialog', { name: 'Instant filtering dialog' });
  await dialog.waitFor({ state: 'visible' });
  const url = dialog.getByRole('combobox', { name: 'URL' });
  check((await url.inputValue()).includes('/blocked-next'), `the newest URL is selected (${await url.inputValue()})`);
  const allow = dialog.getByRole('checkbox', { name: 'Allow' });
  check(await allow.isChecked(), '"Allow" checked by default');
  await page.keyboard.press('Escape');
  await dialog.waitFor({ state: 'hidden' });
  check(!lumbra.readConfig().includes('Personal rules'), 'Escape cancels the dialog and changes nothing');

  await chooseFromTrayMenu(page, 'Instant filtering');
  await dialog.waitFor({ state: 'visible' });
  await page.reload({ waitUntil: 'load' });
  await waitForTip(page);
  await dialog.waitFor({ state: 'visible' });
  check((await url.inputValue()).includes('/blocked-next'),
    'a page loaded again while the dialog is open shows it again, with the newest URL');
  const other = await openPanel(context, lumbra.port);
  const otherDialog = other.getByRole('dialog', { name: 'Instant filtering dialog' });
  await otherDialog.waitFor({ state: 'visible' });
  await page.bringToFront();

  await url.fill(target);
  await allow.uncheck();
  await dialog.getByRole('button', { name: 'OK' }).click();
  await dialog.waitFor({ state: 'hidden' });
  // The dialog closes first and its choice is posted after, so the file changes a moment later.
  const added = /<filterrule name="Personal rules">[\s\S]*<request contains="[^"]*\/blocked-next"\/>/;
  check(await waitFor(() => added.test(lumbra.readConfig())), 'OK added a request entry to "Personal rules"');
  await otherDialog.waitFor({ state: 'hidden' });
  check(!(await otherDialog.isVisible()), 'the other panel page closes its dialog once OK was given');
  const blocked = await proxyGet(lumbra.port, target);
  check(blocked.error !== undefined, `the proxy now closes the request (${JSON.stringify(blocked)})`);
  const stillFine = await proxyGet(lumbra.port, `http://127.0.0.1:${origin.port}/still-fine`);
  check(stillFine.status === 200, 'other pages still pass');
  await chooseFromTrayMenu(page, 'Instant filtering');
  await dialog.waitFor({ state: 'visible' });
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  await dialog.waitFor({ state: 'hidden' });
  check(await waitFor(async () => (await panelState(page)).instantFiltering === null),
    'the dialog opens again after OK, and Cancel closes it');
  const bothHidden = async () => !(await dialog.isVisible()) && !(await otherDialog.isVisible());
  await waitFor(bothHidden);
  await sleep(1500);
  check(await bothHidden(), 'a closed dialog stays closed on both pages');
}

async function main() {
  const workDir = makeWorkDir('lumbra-panel-recorder-');
  const origin = await startOrigin((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/plain' });
    response.end(`origin ${request.url}`);
  });
  const lumbra = await startLumbra(workDir, (port) => configText(port));
  const context = await launchBrowser(workDir);
  const page = await openPanel(context, lumbra.port);
  await record(page, lumbra, origin);
  await instantFilter(context, page, lumbra, origin);
  check(lumbra.child.exitCode === null, 'lumbra still running');
}

await runTest('control panel recorder check', main);
