// The "HTTPS filtering" section of the control panel in Chromium against build/lumbra, by keyboard
// alone, with HOME a fresh folder: switched on it shows the new authority's fingerprint, sites are
// added (typed and suggested) and removed, "Add to my browsers" asks first and then puts the
// certificate into HOME's NSS store. A second Chromium with that HOME, browsing through Lumbra,
// loads an https:// page of the chosen local TLS site without a certificate error and filtered,
// while a site not chosen shows the origin's own certificate. Removing the certificate and the
// authority undoes it all.
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync } from 'node:fs';
import https from 'node:https';
import path from 'node:path';
import {
  check,
  configText,
  launchBrowser,
  makeWorkDir,
  onCleanUp,
  runTest,
  startLumbra,
  waitFor,
} from './harness.mjs';
import { openPanel, waitForState } from './panel_driver.mjs';

const NICKNAME = 'Lumbra local authority';
const PAGE = '<html><body><p id="kept">kept</p><div id="ad">advert</div></body></html>';
const RULES = [
  '<filterrule name="remove ads"><enabled>yes</enabled><content tag="div" attribname="id" attribvalue="ad"/></filterrule>',
  '<filterrule name="news"><enabled>yes</enabled><request contains="www.news.test/"><content contains="x" action="comment"/></request></filterrule>',
];

// An HTTPS origin on loopback whose certificate (localhost and 127.0.0.1) is its own authority.
async function startTlsOrigin(workDir) {
  const key = path.join(workDir, 'origin.key');
  const cert = path.join(workDir, 'origin.pem');
  spawnSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes',
    '-days', '1', '-subj', '/CN=Test origin', '-addext', 'subjectAltName=DNS:localhost,IP:127.0.0.1',
    '-keyout', key, '-out', cert], { stdio: 'ignore' });
  const server = https.createServer({ key: readFileSync(key), cert: readFileSync(cert) }, (request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end(PAGE);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  onCleanUp(() => {
    server.closeAllConnections();
    return new Promise((resolve) => server.close(resolve));
  });
  return { port: server.address().port, cert };
}

function storeHolds(home) {
  return spawnSync('certutil', ['-L', '-d', `sql:${home}/.pki/nssdb`, '-n', NICKNAME]).status === 0;
}

async function press(page, name, key = 'Enter') {
  await page.getByRole('button', { name, exact: true }).focus();
  await page.keyboard.press(key);
}

async function switchOnAndChooseSites(page, lumbra) {
  await page.getByRole('checkbox', { name: 'Filter HTTPS pages of the chosen sites' }).focus();
  await page.keyboard.press('Space');
  const fingerprint = page.locator('#https-fingerprint');
  check(await waitFor(async () => /^([0-9A-F]{2}:){31}[0-9A-F]{2}$/.test(await fingerprint.textContent())),
    'switched on, the new authority\'s fingerprint shows');
  await page.getByLabel('Site', { exact: true }).focus();
  await page.keyboard.type('127.0.0.1');
  await page.keyboard.press('Enter');
  await press(page, 'Add news.test');
  check(await waitForState(page, (state) => state.httpsFiltering.sites.join() === '127.0.0.1,news.test'),
    'a typed site and a suggested one are chosen');
  check(lumbra.readConfig().includes('<site>127.0.0.1</site>'), 'the sites are saved');
  await press(page, 'Remove news.test');
  check(await waitForState(page, (state) => state.httpsFiltering.sites.join() === '127.0.0.1'),
    'a site is removed');
  check(await waitFor(async () => await page.evaluate(() => document.activeElement?.id) ===
    'https-site-remove-127.0.0.1'), 'the keyboard focus stays on the list');
}

async function installAndDownload(page, home) {
  await press(page, 'Add to my browsers');
  const box = page.locator('#message-box');
  check(await waitFor(async () => (await box.textContent()).includes('Fingerprint:')), 'installing asks first');
  await page.keyboard.press('Escape');
  check(!storeHolds(home), 'answering no adds nothing');
  await press(page, 'Add to my browsers');
  await waitFor(() => box.isVisible());
  await page.keyboard.press('Enter');
  check(await waitForState(page, (state) => state.httpsFiltering.stores?.[0]?.holds === true, 20_000),
    'the panel shows Chromium\'s store holding the certificate');
  check(storeHolds(home), 'certutil finds the certificate in HOME\'s ~/.pki/nssdb');

  const [download] = await Promise.all([page.waitForEvent('download'), press(page, 'Download certificate')]);
  const pem = readFileSync(await download.path(), 'utf8');
  check(download.suggestedFilename() === 'lumbra-ca.pem' && pem.startsWith('-----BEGIN CERTIFICATE-----') &&
    !pem.includes('PRIVATE'), 'the download is the certificate alone');
}

async function browseThroughLumbra(workDir, home, lumbra, origin) {
  const context = await launchBrowser(workDir, { proxyPort: lumbra.port, env: { HOME: home } });
  const page = await context.newPage();
  const chosen = await page.goto(`https://127.0.0.1:${origin.port}/`);
  const issuer = (await chosen.securityDetails())?.issuer ?? '';
  check(chosen.ok() && issuer.startsWith('Lumbra'), `the chosen site loads with no certificate error (issuer ${issuer})`);
  check(await page.locator('#kept').isVisible() && await page.locator('#ad').count() === 0,
    'the chosen site\'s page is filtered');
  const refused = await page.goto(`https://localhost:${origin.port}/`).then(() => '', (error) => error.message);
  check(refused.includes('ERR_CERT_AUTHORITY_INVALID'), 'a site not chosen is not vouched for by Lumbra');
  await context.close();

  const lenient = await launchBrowser(workDir, { proxyPort: lumbra.port, env: { HOME: home }, ignoreHTTPSErrors: true });
  const other = await (await lenient.newPage()).goto(`https://localhost:${origin.port}/`);
  check((await other.securityDetails())?.issuer === 'Test origin', 'a site not chosen shows its own certificate');
  check((await other.text()).includes('advert'), 'and passes untouched');
  await lenient.close();
}

async function removeEverything(page, home, lumbra) {
  await press(page, 'Remove from my browsers');
  check(await waitForState(page, (state) => state.httpsFiltering.stores?.[0]?.holds === false, 20_000) &&
    !storeHolds(home), '"Remove from my browsers" takes the certificate out');
  await press(page, 'Remove authority');
  await waitFor(() => page.locator('#message-box').isVisible());
  await page.keyboard.press('Enter');
  check(await waitForState(page, (state) => state.httpsFiltering.authority.state === 'absent'),
    'the authority is removed');
  check(!existsSync(path.join(lumbra.configHome, 'Lumbra_Corvane', 'ca')) &&
    lumbra.readConfig().includes('<httpsfiltering enabled="no">'), 'its files are gone and the feature off');
}

async function main() {
  const workDir = makeWorkDir('lumbra-panel-https-');
  const home = path.join(workDir, 'home');
  mkdirSync(home);
  const origin = await startTlsOrigin(workDir);
  const lumbra = await startLumbra(workDir, (port) => configText(port, RULES),
    { env: { HOME: home, SSL_CERT_FILE: origin.cert } });
  const context = await launchBrowser(workDir, { env: { HOME: home } });
  const page = await openPanel(context, lumbra.port);
  await switchOnAndChooseSites(page, lumbra);
  await installAndDownload(page, home);
  await browseThroughLumbra(workDir, home, lumbra, origin);
  await removeEverything(page, home, lumbra);
  check(lumbra.child.exitCode === null, 'lumbra still running');
}

await runTest('control panel HTTPS filtering check', main);
