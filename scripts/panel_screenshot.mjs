// Takes docs/panel-menu.png: the control panel of a running build/lumbra with the options shown
// and the tray menu open. Run from the repository root: node scripts/panel_screenshot.mjs
import path from 'node:path';
import {
  canConnect,
  configText,
  launchBrowser,
  makeWorkDir,
  proxyGet,
  runTest,
  startLumbra,
  startOrigin,
} from '../tests/browser/harness.mjs';
import { chooseFromTrayMenu, openPanel, openTrayMenu, waitForState } from '../tests/browser/panel_driver.mjs';

const OUTPUT = path.resolve('docs/panel-menu.png');
const RULES = [
  '<filterrule name="window.open">',
  ' <enabled>yes</enabled>',
  ' <content contains="window.open" action="comment"/>',
  '</filterrule>',
  '<filterrule name="Advertising banners">',
  ' <enabled>yes</enabled>',
  ' <content tag="div" attribname="id" attribvalue="ad_top"/>',
  '</filterrule>',
];

async function main() {
  const workDir = makeWorkDir('lumbra-screenshot-');
  const origin = await startOrigin((request, response) => response.end('page'));
  // The usual port when it is free, so the picture shows what a user sees.
  const port = (await canConnect(8010)) ? undefined : 8010;
  const lumbra = await startLumbra(workDir, (chosen) =>
    configText(chosen, RULES).replace('proxy.invalid', 'www-proxy.t-online.de'), { port });
  const context = await launchBrowser(workDir, { viewport: { width: 720, height: 560 } });
  const page = await openPanel(context, lumbra.port);
  await page.locator('#tray-icon').dblclick();
  await page.locator('#options').waitFor({ state: 'visible' });
  // A paused record gives the menu its recorder rows with their pictures.
  await chooseFromTrayMenu(page, 'Start recorder');
  await proxyGet(lumbra.port, `http://127.0.0.1:${origin.port}/`);
  await chooseFromTrayMenu(page, 'Pause recorder');
  await waitForState(page, (state) => state.recorder.state === 1);
  await openTrayMenu(page);
  const row = page.locator('#tray-menu').getByRole('menuitem', { name: 'Stop recorder' });
  await row.hover();
  await page.screenshot({ path: OUTPUT });
  console.log(`wrote ${OUTPUT}`);
}

await runTest('screenshot', main);
