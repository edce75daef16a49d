// Headless Chromium loads a local page through build/lumbra and the DOM shows the ad element
// removed and the window.open call commented out, with the rest of the page intact.
import {
  check,
  configText,
  launchBrowser,
  makeWorkDir,
  PAGE_TIMEOUT_MS,
  runTest,
  startLumbra,
  startOrigin,
} from './harness.mjs';

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

const RULES = [
  '<filterrule name="window.open">',
  ' <enabled>yes</enabled>',
  ' <content contains="window.open" action="comment"/>',
  '</filterrule>',
  '<filterrule name="top advert">',
  ' <enabled>yes</enabled>',
  ' <content tag="div" attribname="id" attribvalue="ad_top"/>',
  '</filterrule>',
];

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
  const workDir = makeWorkDir('lumbra-browser-');
  const origin = await startOrigin((request, response) => {
    if (request.url === '/') {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      response.end(PAGE);
      return;
    }
    response.writeHead(404, { 'Content-Type': 'text/plain' });
    response.end('not here\n');
  });
  const lumbra = await startLumbra(workDir, (port) => configText(port, RULES));
  const context = await launchBrowser(workDir, { proxyPort: lumbra.port });
  await checkUnfilteredPage(context);
  await checkProxiedPage(context, origin);
  check(lumbra.child.exitCode === null && lumbra.child.signalCode === null, 'lumbra still running');
}

await runTest('browser check', main);
