// The tray menu of the control panel in Chromium against build/lumbra: its rows by recorder
// state, the side bar, Escape and a click outside closing it without a command, separators that
// cannot be chosen, Up/Down and Enter, flipping near the window's edges, and E choosing "&Exit",
// after which the page says the program has ended and the process exits.
import {
  check,
  configText,
  hasEnded,
  launchBrowser,
  makeWorkDir,
  runTest,
  startLumbra,
  waitFor,
} from './harness.mjs';
import { openPanel, openTrayMenu, panelState, trayMenu, trayMenuRows, waitForState } from './panel_driver.mjs';

const VIEWPORT = { width: 900, height: 640 };

async function checkRows(page) {
  await openTrayMenu(page);
  const rows = await trayMenuRows(page);
  check(JSON.stringify(rows) === JSON.stringify(
    ['Options', '-', 'Start recorder', 'Instant filtering', 'Disable', '-', 'Exit']),
  `stopped, empty recorder: ${rows.join(' | ')}`);
  const underlined = await trayMenu(page).locator('li u').allTextContents();
  check(underlined.join('') === 'OSIDE', `mnemonic letters underlined (${underlined.join('')})`);
  const bar = await trayMenu(page).locator('canvas.side-bar').boundingBox();
  const menu = await trayMenu(page).boundingBox();
  check(Math.round(bar.width) === 21 && Math.abs(bar.height - (menu.height - 2)) <= 1,
    `side bar 21 pixels wide over the full height (${bar.width}x${bar.height})`);
  const colours = await trayMenu(page).locator('canvas.side-bar').evaluate((canvas) => {
    const context = canvas.getContext('2d');
    const ratio = canvas.width / 21;
    const at = (y) => Array.from(context.getImageData(20 * ratio - 1, y, 1, 1).data.slice(0, 3));
    return { top: at(0), bottom: at(canvas.height - 1) };
  });
  check(colours.top.join() === '255,255,255' && colours.bottom.join() === '128,128,255',
    `side bar ramps from white to light blue (${colours.top} to ${colours.bottom})`);
}

async function checkClosing(page, lumbra) {
  await page.keyboard.press('Escape');
  await trayMenu(page).waitFor({ state: 'hidden' });
  check(true, 'Escape closes the menu');
  await openTrayMenu(page);
  await page.mouse.click(VIEWPORT.width / 2, 40);
  await trayMenu(page).waitFor({ state: 'hidden' });
  check(true, 'a click outside closes the menu');
  await openTrayMenu(page);
  await trayMenu(page).locator('li[role="separator"]').first().click();
  check(await trayMenu(page).isVisible(), 'clicking a separator chooses nothing and keeps the menu');
  await page.keyboard.press('Escape');
  const state = await panelState(page);
  check(state.enabled && state.recorder.state === 0 && !state.mayShow, 'no command was sent');
  check(await page.locator('#ended').isHidden() && !hasEnded(lumbra.child),
    'Escape never ends the program');
}

async function checkKeyboard(page) {
  await openTrayMenu(page);
  const active = () => trayMenu(page).evaluate((menu) =>
    document.getElementById(menu.getAttribute('aria-activedescendant') ?? '')?.getAttribute('aria-label') ?? null);
  await page.keyboard.press('ArrowDown');
  check(await active() === 'Options', 'Down highlights the first row');
  await page.keyboard.press('ArrowDown');
  check(await active() === 'Start recorder', 'Down skips the separator');
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('ArrowUp');
  check(await active() === 'Exit', 'Up wraps round to the last row');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  check(await active() === 'Start recorder', 'Down wraps round to the first rows');
  await page.keyboard.press('Enter');
  await trayMenu(page).waitFor({ state: 'hidden' });
  check(await waitForState(page, (state) => state.recorder.state === 2), 'Enter started the recorder');
  await openTrayMenu(page);
  const rows = await trayMenuRows(page);
  check(rows.includes('Pause recorder') && rows.includes('Stop recorder') && !rows.includes('Save record as...'),
    `recording: ${rows.join(' | ')}`);
  await page.keyboard.press('s');
  await trayMenu(page).waitFor({ state: 'hidden' });
  check(await waitForState(page, (state) => state.recorder.state === 0), 'S chose "&Stop recorder"');

  await page.locator('#tray-icon').focus();
  await page.keyboard.press('Enter');
  await trayMenu(page).waitFor({ state: 'visible' });
  check(await active() === 'Options', 'Enter on the focused icon opens the menu on its first row');
  await page.keyboard.press('Escape');
  await trayMenu(page).waitFor({ state: 'hidden' });
  check(await page.locator('#tray-icon').evaluate((icon) => document.activeElement === icon),
    'Escape gives the focus back to the icon');
}

// The menu is placed at the pointer and flipped to stay inside the window.
async function checkEdgeFlipping(page) {
  const openAt = async (x, y) => {
    await page.locator('#tray-icon').evaluate((icon, point) => icon.dispatchEvent(new MouseEvent('contextmenu',
      { bubbles: true, cancelable: true, button: 2, clientX: point.x, clientY: point.y })), { x, y });
    await trayMenu(page).waitFor({ state: 'visible' });
    const box = await trayMenu(page).boundingBox();
    await page.keyboard.press('Escape');
    await trayMenu(page).waitFor({ state: 'hidden' });
    return box;
  };
  const near = (a, b) => Math.abs(a - b) <= 1;
  const { width, height } = VIEWPORT;
  const free = await openAt(100, 100);
  check(near(free.x, 100) && near(free.y, 100), 'with room the menu opens right of and below the pointer');
  const corner = await openAt(width - 10, height - 10);
  check(near(corner.x + corner.width, width - 10) && near(corner.y + corner.height, height - 10),
    `near the bottom-right corner it opens up and to the left (${JSON.stringify(corner)})`);
  const right = await openAt(width - 10, 100);
  check(near(right.x + right.width, width - 10) && near(right.y, 100), 'near the right edge it opens to the left');
  const bottom = await openAt(100, height - 10);
  check(near(bottom.x, 100) && near(bottom.y + bottom.height, height - 10), 'near the bottom it opens above');
}

async function checkExitByMnemonic(page, lumbra) {
  await openTrayMenu(page);
  await page.keyboard.press('e');
  await page.getByText('Lumbra has ended. You can close this page.').waitFor();
  check(true, 'E chose "&Exit" and the page says the program has ended');
  check(await waitFor(() => hasEnded(lumbra.child), 10_000), 'the process exited');
  check(lumbra.child.exitCode === 0, `exit status 0 (${lumbra.child.exitCode})`);
}

async function main() {
  const workDir = makeWorkDir('lumbra-panel-menu-');
  const lumbra = await startLumbra(workDir, (port) => configText(port));
  const context = await launchBrowser(workDir, { viewport: VIEWPORT });
  const page = await openPanel(context, lumbra.port);
  await checkRows(page);
  await checkClosing(page, lumbra);
  await checkKeyboard(page);
  await checkEdgeFlipping(page);
  await checkExitByMnemonic(page, lumbra);
}

await runTest('control panel menu check', main);
