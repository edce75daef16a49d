// The "Block lists" section of the control panel in Chromium against build/lumbra, by keyboard
// alone: a list added by name and address is fetched and blocks its domain, the counters and the
// most blocked hosts show it, a failing list shows its error, "Update now" fetches again, and a
// list switched off and removed is saved that way.
import {
  check,
  configText,
  launchBrowser,
  makeWorkDir,
  proxyGet,
  runTest,
  startLumbra,
  startOrigin,
  waitFor,
} from './harness.mjs';
import { openPanel, waitForState } from './panel_driver.mjs';

async function addList(page, name, url) {
  await page.getByLabel('Name', { exact: true }).focus();
  await page.keyboard.type(name);
  await page.keyboard.press('Tab');
  await page.keyboard.type(url);
  await page.keyboard.press('Enter');
}

async function addAndBlock(page, lumbra, origin) {
  await addList(page, 'My list', `http://127.0.0.1:${origin.port}/list.txt`);
  check(await waitForState(page, (state) => state.blockLists[0]?.domains === 1), 'the list was fetched');
  const row = page.locator('#lists-rows tr').first();
  check(await waitFor(async () => (await row.locator('td').nth(2).textContent()) === '1'),
    'the row shows one domain');
  check(await page.getByLabel('Name', { exact: true }).inputValue() === '', 'the form is emptied for the next list');
  const refused = await proxyGet(lumbra.port, 'http://www.blocked.test/');
  check(refused.error !== undefined, `a subdomain of a listed domain is refused (${JSON.stringify(refused)})`);
  check(await waitFor(async () => (await page.locator('#blocked-by-lists').textContent()) === '1'),
    'the counter of list blocks shows it');
  check((await page.locator('#blocked-hosts li').first().textContent()) === 'www.blocked.test (1)',
    'the most blocked hosts name it');
}

async function failAndUpdate(page, origin) {
  await addList(page, 'Missing', `http://127.0.0.1:${origin.port}/missing.txt`);
  const error = page.locator('#lists-rows tr').nth(1).locator('.list-error');
  check(await waitFor(async () => (await error.textContent()) === 'The server answered 404.'),
    'a failing list shows why beside it');
  const fetched = origin.requests.filter((url) => url === '/list.txt').length;
  await page.getByRole('button', { name: 'Update now' }).focus();
  await page.keyboard.press('Enter');
  check(await waitFor(() => origin.requests.filter((url) => url === '/list.txt').length === fetched + 1),
    '"Update now" fetched the list again');
}

async function switchOffAndRemove(page, lumbra) {
  await page.getByRole('checkbox', { name: 'Use My list' }).focus();
  await page.keyboard.press('Space');
  check(await waitFor(() => lumbra.readConfig().includes('name="My list"') &&
    lumbra.readConfig().includes('enabled="no"')), 'switching a list off is saved at once');
  await page.getByRole('button', { name: 'Remove Missing' }).focus();
  await page.keyboard.press('Enter');
  check(await waitForState(page, (state) => state.blockLists.length === 1), 'the list is removed');
  check(!lumbra.readConfig().includes('missing.txt'), 'the removal is saved');
  check(await page.evaluate(() => document.activeElement?.id ?? '') !== '', 'the keyboard focus stays in the section');
}

async function refuseBadAddress(page) {
  await addList(page, 'Odd', 'ftp://lists.invalid/odd.txt');
  const box = page.locator('#message-box');
  check(await waitFor(async () => (await box.textContent()).includes('must start with http://, https:// or file://')),
    'an address of another kind is refused with a message');
  await page.keyboard.press('Enter');
}

async function main() {
  const workDir = makeWorkDir('lumbra-panel-lists-');
  const origin = await startOrigin((request, response) => {
    if (request.url !== '/list.txt') {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { 'Content-Type': 'text/plain' });
    response.end('# test list\n0.0.0.0 blocked.test\n');
  });
  const lumbra = await startLumbra(workDir, (port) => configText(port));
  const context = await launchBrowser(workDir);
  const page = await openPanel(context, lumbra.port);
  check(await page.getByRole('heading', { name: 'Block lists' }).isVisible(), 'the section is shown');
  await addAndBlock(page, lumbra, origin);
  await failAndUpdate(page, origin);
  await refuseBadAddress(page);
  await switchOffAndRemove(page, lumbra);
  check(lumbra.child.exitCode === null, 'lumbra still running');
}

await runTest('control panel block lists check', main);
