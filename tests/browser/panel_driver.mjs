// Driving Lumbra's control panel page: opening it, the tray menu, and reading its state.
import { PAGE_TIMEOUT_MS, waitFor } from './harness.mjs';

// Opens the panel straight (not through the proxy) and waits for the first state to show.
export async function openPanel(context, port) {
  const page = await context.newPage();
  page.setDefaultTimeout(10_000);
  page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  await page.goto(`http://127.0.0.1:${port}/`, { waitUntil: 'load', timeout: PAGE_TIMEOUT_MS });
  await waitForTip(page);
  return page;
}

export async function waitForTip(page) {
  await page.locator('#tray-tip').filter({ hasText: /^lumbra\(\d+\)$/ }).waitFor();
}

export function trayMenu(page) {
  return page.locator('#tray-menu');
}

export async function openTrayMenu(page) {
  await page.locator('#tray-icon').click({ button: 'right' });
  await trayMenu(page).waitFor({ state: 'visible' });
}

// The names of the tray menu's rows, separators as '-'.
export function trayMenuRows(page) {
  return page.locator('#tray-menu li').evaluateAll((rows) =>
    rows.map((row) => (row.getAttribute('role') === 'separator' ? '-' : row.getAttribute('aria-label'))));
}

// The rows of the tray menu as it opens now; the menu is closed again.
export async function trayMenuRowsNow(page) {
  await openTrayMenu(page);
  const rows = await trayMenuRows(page);
  await page.keyboard.press('Escape');
  return rows;
}

export async function chooseFromTrayMenu(page, name) {
  await openTrayMenu(page);
  await trayMenu(page).getByRole('menuitem', { name, exact: true }).click();
  await trayMenu(page).waitFor({ state: 'hidden' });
}

export function panelState(page) {
  return page.evaluate(() => fetch('/api/state', { cache: 'no-store' }).then((answer) => answer.json()));
}

export function waitForState(page, predicate, timeoutMs = 10_000) {
  return waitFor(async () => predicate(await panelState(page)), timeoutMs);
}
