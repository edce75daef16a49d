// The control panel's options window and filtering switch, driven in Chromium against
// build/lumbra: labels, a rejected port, a rule toggled from "Advanced filters" and kept by Hide,
// a port change (with the local network allowed) that moves the proxy and the page, and
// Enable/Disable from the tray menu.
import {
  canConnect,
  check,
  configText,
  freePort,
  launchBrowser,
  makeWorkDir,
  proxyGet,
  runTest,
  startLumbra,
  startOrigin,
  waitFor,
} from './harness.mjs';
import { chooseFromTrayMenu, openPanel, trayMenuRowsNow, waitForState } from './panel_driver.mjs';

const RULES = [
  '<filterrule name="window.open">',
  ' <enabled>yes</enabled>',
  ' <content contains="window.open" action="comment"/>',
  '</filterrule>',
  '<filterrule name="top advert">',
  ' <enabled>yes</enabled>',
  ' <content tag="div" attribname="id" attribvalue="ad_top"/>',
  '</filterrule>',
  '<filterrule>',
  ' <enabled>yes</enabled>',
  ' <request contains="/never-named"/>',
  '</filterrule>',
];

// The enabled text of the rule with that name in the file.
function ruleEnabled(configFile, name) {
  const match = new RegExp(`<filterrule name="${name}">\\s*<enabled>(\\w+)</enabled>`).exec(configFile);
  return match?.[1] ?? null;
}

function topEnabled(configFile) {
  return /<lumbra>\s*<enabled>(\w+)<\/enabled>/.exec(configFile)?.[1] ?? null;
}

async function checkLabels(page) {
  check(await page.locator('#options').isHidden(), 'options hidden until asked for');
  await page.locator('#tray-icon').dblclick();
  await page.locator('#options').waitFor({ state: 'visible' });
  check(true, 'double-click on the tray icon shows the options');
  check(await page.title() === 'lumbra', 'page title is lumbra');
  check(await page.getByLabel('Proxy port :').isVisible(), '"Proxy port :" labels the port edit');
  const corporate = page.getByRole('checkbox', { name: 'Use Corporate proxy' });
  check(!(await corporate.isChecked()), '"Use Corporate proxy" unchecked as in the file');
  check(await page.getByLabel('Corporate proxy address').isDisabled(), 'corporate edits start disabled');
  await corporate.check();
  check(await page.getByLabel('Corporate proxy address').isEnabled(), 'checking the box enables the edits');
  await corporate.uncheck();
  const allowLan = page.getByRole('checkbox', { name: 'Allow other computers on the local network' });
  check(!(await allowLan.isChecked()), '"Allow other computers on the local network" starts unchecked');
  check(await page.getByRole('checkbox', { name: 'Autorun with Windows' }).isVisible(), 'autorun box present');
  for (const name of ['Advanced filters', 'Product update', 'Hide', 'Exit']) {
    check(await page.getByRole('button', { name, exact: true }).isVisible(), `"${name}" button present`);
  }
}

async function checkRejectedPort(page, lumbra) {
  await page.getByLabel('Proxy port :').fill('70000');
  await page.getByRole('button', { name: 'Hide' }).click();
  const box = page.locator('#message-box');
  await box.waitFor({ state: 'visible' });
  check((await box.textContent()).includes('The proxy port must be a number from 1 to 65535.'),
    'a port above 65535 is refused with a message');
  await page.keyboard.press('Escape');
  await box.waitFor({ state: 'hidden' });
  check(await page.locator('#options').isVisible(), 'options stay shown after the refusal');
  check(await page.locator('#ended').isHidden() && lumbra.child.exitCode === null,
    'Escape closed the message box without ending the program');
  check(await canConnect(lumbra.port), 'proxy still on its port');
}

async function toggleRule(page, lumbra) {
  const button = page.getByRole('button', { name: 'Advanced filters' });
  await button.click();
  const menu = page.getByRole('menu', { name: 'Advanced filters' });
  await menu.waitFor({ state: 'visible' });
  const names = await menu.getByRole('menuitemcheckbox').allTextContents();
  check(names.length === 2 && names.some((name) => name.includes('window.open')),
    `Advanced filters lists the named rules only (${names.join(', ')})`);
  const item = menu.getByRole('menuitemcheckbox', { name: 'top advert' });
  check(await item.getAttribute('aria-checked') === 'true', '"top advert" starts checked');
  await item.click();
  await menu.waitFor({ state: 'hidden' });
  await waitForState(page, (state) => state.rules.find((rule) => rule.name === 'top advert')?.checked === false);
  await button.click();
  check(await menu.getByRole('menuitemcheckbox', { name: 'top advert' }).getAttribute('aria-checked') === 'false',
    'the toggled rule shows unchecked');
  await page.keyboard.press('Escape');
  await menu.waitFor({ state: 'hidden' });
  check(ruleEnabled(lumbra.readConfig(), 'top advert') === 'yes', 'a toggle alone does not save the file');
}

async function changePortAndHide(page, lumbra, origin) {
  const newPort = await freePort();
  await page.getByLabel('Proxy port :').fill(String(newPort));
  await page.getByRole('checkbox', { name: 'Allow other computers on the local network' }).check();
  await page.getByRole('button', { name: 'Hide' }).click();
  await page.waitForURL(`http://127.0.0.1:${newPort}/**`);
  check(true, `the page moved to the new port ${newPort}`);
  await page.locator('#tray-tip').filter({ hasText: /^lumbra\(\d+\)$/ }).waitFor();
  check(await page.locator('#options').isHidden(), 'options hidden after Hide');
  const answer = await proxyGet(newPort, `http://127.0.0.1:${origin.port}/after-move`);
  check(answer.status === 200 && answer.body === 'origin page', 'the proxy relays on the new port');
  check(await waitFor(async () => !(await canConnect(lumbra.port)), 5000), 'the old port is closed');
  const file = lumbra.readConfig();
  check(file.includes(`<proxyport>${newPort}</proxyport>`), 'Hide saved the new port');
  check(ruleEnabled(file, 'top advert') === 'no', 'Hide saved the rule toggle');
  check(file.includes('<allowlan>yes</allowlan>'), 'Hide saved "Allow other computers on the local network"');
  check(ruleEnabled(file, 'window.open') === 'yes', 'the other rule is unchanged');
  return newPort;
}

async function switchFiltering(page, lumbra) {
  const iconShows = async (name) => (await page.locator('#tray-image').getAttribute('src')).endsWith(name);
  check(await iconShows('icon-on.png'), 'icon shows filtering on');
  check((await trayMenuRowsNow(page)).includes('Disable'), 'menu offers "Disable" while filtering');
  await chooseFromTrayMenu(page, 'Disable');
  check(await waitFor(() => iconShows('icon-off.png'), 5000), 'icon shows filtering off');
  check(topEnabled(lumbra.readConfig()) === 'no', 'Disable saved enabled "no"');
  const rows = await trayMenuRowsNow(page);
  check(rows.includes('Enable') && !rows.includes('Disable'), 'menu offers "Enable" while off');
  await chooseFromTrayMenu(page, 'Enable');
  check(await waitFor(() => iconShows('icon-on.png'), 5000), 'icon shows filtering on again');
  check(topEnabled(lumbra.readConfig()) === 'yes', 'Enable saved enabled "yes"');
}

async function main() {
  const workDir = makeWorkDir('lumbra-panel-options-');
  const origin = await startOrigin((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/plain' });
    response.end('origin page');
  });
  const lumbra = await startLumbra(workDir, (port) => configText(port, RULES));
  const context = await launchBrowser(workDir);
  const page = await openPanel(context, lumbra.port);
  await checkLabels(page);
  await checkRejectedPort(page, lumbra);
  await toggleRule(page, lumbra);
  const newPort = await changePortAndHide(page, lumbra, origin);
  await switchFiltering(page, lumbra);
  await chooseFromTrayMenu(page, 'Options');
  await page.locator('#options').waitFor({ state: 'visible' });
  check(await page.getByLabel('Proxy port :').inputValue() === String(newPort),
    '"Options" shows the options again with the new port');
  check(lumbra.child.exitCode === null, 'lumbra still running');
}

await runTest('control panel options check', main);
